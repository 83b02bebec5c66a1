#!/usr/bin/env bash
# Mobile upload load: 100 concurrent clients each upload 20 files of 200 kB over loopback to a
# headless Vellumora whose mobile server is on, into one raw channel (scan interval 1 s) that
# prints to a private CUPS queue. The queue is paused, so the jobs are accepted and kept, and
# the script counts them afterwards: exactly one job per upload means none lost or duplicated.
#   usage: bench/mobile-upload/run.sh [BUILD_DIR] [CLIENTS] [FILES] [BYTES]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
clients=${2:-100}
files=${3:-20}
bytes=${4:-200000}

work_name=mobilebench
# shellcheck source=bench/sandbox.sh
source bench/sandbox.sh

mkdir -p "$work/in/Uploads" "$work/data" "$work/run"
export VELLUMORA_COMMON_APPDATA="$work/data" XDG_RUNTIME_DIR="$work/run"
port=$(( (RANDOM % 20000) * 2 + 20000 ))
"$build/src/app/vellumora-setup" add-channel --folder "$work/in/Uploads" --printer capture --freq 1 --allow-raw >/dev/null
"$build/src/app/vellumora-setup" server on --port "$port" >/dev/null
printf 'bench\r\n' > "$work/data/Vellumora/MobileClientNames.lst"
printf '123456\r\n' > "$work/data/Vellumora/MobileClientPINs.lst"
printf '1\r\n' > "$work/data/Vellumora/MobileClientChannels.lst"
"$build/src/app/vellumora" >/dev/null &
vpid=$!
log="$work/data/Vellumora/Vellumora.log"
for _ in $(seq 100); do
  [ -f "$log" ] && iconv -f UTF-16 -t UTF-8 "$log" 2>/dev/null | grep -q "listening to mobile devices on Port $port" && break
  sleep 0.1
done

"$build/bench/bench_mobile_upload" "$port" "$vpid" "$work/in/Uploads" "$clients" "$files" "$bytes" bench 123456
jobs=$(lpstat -o capture | wc -l)
echo "print jobs accepted: $jobs of $((clients * files)) uploads"
