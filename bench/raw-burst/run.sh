#!/usr/bin/env bash
# Raw burst: 200 files of 10 kB dropped at once into one raw channel (scan interval 1 s) of a
# headless Vellumora, against a shell loop of `lp -o raw` over the same files to the same
# queue. Each side is timed from the drop (or the loop's start) until the print server has
# accepted the last job: for Vellumora that is when the last file has left the input folder,
# which happens only after its job was accepted. The queue is paused, so printing itself does
# not compete for the processor. Pairs alternate which side goes first.
#   usage: bench/raw-burst/run.sh [BUILD_DIR] [PAIRS]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
pairs=${2:-3}
files=200

work_name=rawburst
# shellcheck source=bench/sandbox.sh
source bench/sandbox.sh

mkdir -p "$work/src" "$work/in" "$work/data" "$work/run"
for i in $(seq -w 1 $files); do head -c 10240 /dev/urandom > "$work/src/file$i.prn"; done
export VELLUMORA_COMMON_APPDATA="$work/data" XDG_RUNTIME_DIR="$work/run"
"$build/src/app/vellumora-setup" add-channel --folder "$work/in" --printer capture --freq 1 --allow-raw >/dev/null
"$build/src/app/vellumora" >/dev/null &
vpid=$!
log="$work/data/Vellumora/Vellumora.log"
for _ in $(seq 100); do
  [ -f "$log" ] && iconv -f UTF-16 -t UTF-8 "$log" 2>/dev/null | grep -q "waiting for new print files" && break
  sleep 0.1
done

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
run_vellumora() {
  mkdir -p "$work/drop"
  cp "$work/src/"* "$work/drop/"
  local t0 t1
  t0=$(now)
  mv "$work/drop/"* "$work/in/"   # a rename each: the files appear complete, all at once
  while [ -n "$(ls -A "$work/in")" ]; do sleep 0.005; done
  t1=$(now)
  calc "$t1 - $t0"
}
run_lp() {
  local t0 t1
  t0=$(now)
  for f in "$work/src/"*; do lp -d capture -o raw "$f" >/dev/null; done
  t1=$(now)
  calc "$t1 - $t0"
}

echo "pair  vellumora_s  lp_loop_s  ratio"
sum_v=0; sum_l=0
for p in $(seq 1 "$pairs"); do
  if [ $((p % 2)) -eq 1 ]; then v=$(run_vellumora); l=$(run_lp); else l=$(run_lp); v=$(run_vellumora); fi
  printf "%4d  %11.3f  %9.3f  %5.2f\n" "$p" "$v" "$l" "$(calc "$v / $l")"
  sum_v=$(calc "$sum_v + $v"); sum_l=$(calc "$sum_l + $l")
  cancel -a capture 2>/dev/null || true
done
printf "mean  %11.3f  %9.3f  %5.2f\n" "$(calc "$sum_v / $pairs")" "$(calc "$sum_l / $pairs")" "$(calc "$sum_v / $sum_l")"
