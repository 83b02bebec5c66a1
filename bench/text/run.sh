#!/usr/bin/env bash
# Text benchmark: a 1 MB text of ordinary lines and a 100 kB line without blanks, each
# dropped into a channel that typesets it on A4 and timed until the print server accepted
# the job, against cups-filters' texttopdf run directly on the same file with the same page
# size in the same run. See bench/README.md.
#
#   bench/text/run.sh [BUILD_DIR] [RUNS]     (defaults: build/release, 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
runs=${2:-3}
bench=$build/bench/picture/picture_bench
[ -x "$bench" ] || { echo "no $bench: cmake --build $build --target picture_bench" >&2; exit 2; }
PATH=$PATH:/usr/sbin:/sbin
texttopdf=/usr/lib/cups/filter/texttopdf

work=$(mktemp -d /tmp/vellumora-text-bench.XXXXXX)
chmod 755 "$work"
sandbox=""
cleanup() {
  [ -z "$sandbox" ] || bash "$root/scripts/cups-sandbox" stop "$sandbox" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A private print server with a 300-dpi A4 printer, paused so that no filter competes for the
# processor while the next run is timed.
eval "$(bash "$root/scripts/cups-sandbox" start --owner $$ --lifetime 1800)"
sandbox=$VELLUMORA_CUPS_DIR
lpadmin -p benchtext -E -v "capture:$VELLUMORA_CUPS_DIR/out/capture" \
  -m drv:///sample.drv/laserjet.ppd -o media=A4 -o Resolution=300dpi 2>/dev/null
cupsdisable benchtext

# The inputs: about 15,000 lines of words (every tenth line longer than the page) in 1 MB,
# and one line of 100,000 letters and digits without a blank.
python3 - "$work" <<'PY'
import random, sys
random.seed(7)
work = sys.argv[1]
words = [''.join(random.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(random.randint(1, 10)))
         for _ in range(3000)]
lines, size, i = [], 0, 0
while size < 1_000_000:
    n = 40 if i % 10 == 0 else random.choice([0, 3, 6, 8, 10, 12, 14])
    line = ' '.join(random.choice(words) for _ in range(n))
    if i % 7 == 0:
        line = line.capitalize() + '.'
    lines.append(line)
    size += len(line) + 1
    i += 1
open(f'{work}/text-1mb.txt', 'w').write('\n'.join(lines) + '\n')
open(f'{work}/line-100kb.txt', 'w').write(
    ''.join(random.choice('abcdefghijklmnopqrstuvwxyz0123456789') for _ in range(100_000)) + '\n')
PY

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for input in text-1mb line-100kb; do
  file=$work/$input.txt
  : >"$work/$input.texttopdf"
  for ((i = 1; i <= runs; i++)); do
    start=$(date +%s.%N)
    "$texttopdf" 1 bench "$input" 1 "media=A4" "$file" >"$work/$input.pdf" 2>/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }' >>"$work/$input.texttopdf"
  done
  "$bench" "$file" benchtext "$runs" >"$work/$input.out" 2>"$work/$input.err" || {
    cat "$work/$input.err" >&2
    exit 1
  }
  sed -n 's/^run [0-9]*: \([0-9.]*\) s$/\1/p' "$work/$input.out" >"$work/$input.vellumora"
  rss=$(sed -n 's/^peak RSS: \([0-9]*\) KiB$/\1/p' "$work/$input.out")
  t=$(median <"$work/$input.texttopdf")
  v=$(median <"$work/$input.vellumora")
  echo "$input: texttopdf $(paste -sd' ' "$work/$input.texttopdf") s, median $t s" \
    "($(pdfinfo "$work/$input.pdf" | awk '/^Pages:/ { print $2 }') pages)"
  echo "$input: Vellumora $(paste -sd' ' "$work/$input.vellumora") s, median $v s," \
    "ratio $(awk -v a="$v" -v b="$t" 'BEGIN { printf "%.2f", a / b }'), peak RSS $((rss / 1024)) MiB"
done
