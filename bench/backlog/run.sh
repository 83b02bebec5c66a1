#!/usr/bin/env bash
# Backlog: 10,000 files of 10 kB already lie in a raw channel's folder (scan interval 1 s) when
# a headless Vellumora starts; the time runs from the start of scanning until the last file
# has left the folder, which happens only after the print server accepted its job. Baseline:
# the burst rate of the same Vellumora in the same run, 200 files dropped at once into the
# running channel. The queue is paused, so printing does not compete for the processor. Also
# reported: Vellumora's peak resident memory (VmHWM) during the backlog.
#   usage: bench/backlog/run.sh [BUILD_DIR] [FILES]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
files=${2:-10000}
burst=200

work_name=backlog
# shellcheck source=bench/sandbox.sh
source bench/sandbox.sh

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
mkdir -p "$work/in" "$work/data" "$work/run" "$work/src"
head -c 10240 /dev/urandom > "$work/src/one.prn"
export VELLUMORA_COMMON_APPDATA="$work/data" XDG_RUNTIME_DIR="$work/run"
"$build/src/app/vellumora-setup" add-channel --folder "$work/in" --printer capture --freq 1 --allow-raw >/dev/null
log="$work/data/Vellumora/Vellumora.log"

start_vellumora() {
  rm -f "$log"
  "$build/src/app/vellumora" >/dev/null &
  vpid=$!
  for _ in $(seq 300); do
    [ -f "$log" ] && iconv -f UTF-16 -t UTF-8 "$log" 2>/dev/null | grep -q "waiting for new print files" && break
    sleep 0.02
  done
}
stop_vellumora() {
  kill "$vpid" && wait "$vpid" 2>/dev/null || true
  vpid=
  cancel -a capture 2>/dev/null || true
}
drain_seconds() {  # from $1 (a time) until the input folder is empty
  local t0=$1
  while [ -n "$(ls -A "$work/in")" ]; do sleep 0.02; done
  calc "$(now) - $t0"
}

# The backlog: in the folder before the start.
for i in $(seq -w 1 "$files"); do cp "$work/src/one.prn" "$work/in/file$i.prn"; done
t0=$(now)
start_vellumora
peak=0
while [ -n "$(ls -A "$work/in")" ]; do
  hwm=$(awk '/VmHWM/ { print $2 }' "/proc/$vpid/status" 2>/dev/null || echo 0)
  [ "${hwm:-0}" -gt "$peak" ] && peak=$hwm
  sleep 0.1
done
backlog=$(calc "$(now) - $t0")
hwm=$(awk '/VmHWM/ { print $2 }' "/proc/$vpid/status" 2>/dev/null || echo 0)
[ "${hwm:-0}" -gt "$peak" ] && peak=$hwm
jobs_backlog=$(lpstat -o capture 2>/dev/null | wc -l)

# The burst, into the running channel.
cancel -a capture 2>/dev/null || true
mkdir -p "$work/drop"
for i in $(seq -w 1 $burst); do cp "$work/src/one.prn" "$work/drop/burst$i.prn"; done
t0=$(now)
mv "$work/drop/"* "$work/in/"
burst_s=$(drain_seconds "$t0")
stop_vellumora

rate_backlog=$(calc "$files / $backlog")
rate_burst=$(calc "$burst / $burst_s")
printf "backlog: %d files in %.2f s = %.1f files/s (jobs queued: %d); peak RSS %.1f MiB\n" \
  "$files" "$backlog" "$rate_backlog" "$jobs_backlog" "$(calc "$peak / 1024")"
printf "burst:   %d files in %.2f s = %.1f files/s\n" "$burst" "$burst_s" "$rate_burst"
printf "ratio backlog/burst rate: %.2f (goal >= 0.80)\n" "$(calc "$rate_backlog / $rate_burst")"
