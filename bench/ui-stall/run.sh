#!/usr/bin/env bash
# The window thread's longest stall while a 24-megapixel picture and a 1 MB text file print:
# the engine thread (as built) against the scan loop nested in the window thread (the
# baseline); see bench/README.md.
#   usage: bench/ui-stall/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
work_name=ui-stall
# shellcheck source=bench/sandbox.sh
source bench/sandbox.sh
export VELLUMORA_COMMON_APPDATA=$work/data
mkdir -p "$VELLUMORA_COMMON_APPDATA"
for mode in nested thread; do
  "$build/bench/ui_stall_bench" capture "$mode" | tee -a "$work/results"
done
nested=$(sed -n 's/^nested.*longest stall \([0-9]*\) ms.*/\1/p' "$work/results")
thread=$(sed -n 's/^thread.*longest stall \([0-9]*\) ms.*/\1/p' "$work/results")
awk -v n="$nested" -v t="$thread" 'BEGIN { printf "longest stall, engine thread / nested loop: %.3f (goal: at most 50 ms)\n", (t < 1 ? 1 : t) / n }'
