#!/usr/bin/env bash
# Picture benchmark: a 24-megapixel JPEG dropped into a channel that scales it to an A4 page on
# a 600-dpi printer, timed until the print server accepted the job, against ImageMagick's
# `convert photo.jpg photo.pdf` on the same file in the same run. See bench/README.md.
#
#   bench/picture/run.sh [BUILD_DIR] [RUNS]     (defaults: build/release, 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
runs=${2:-3}
bench=$build/bench/picture/picture_bench
[ -x "$bench" ] || { echo "no $bench: cmake --build $build --target picture_bench" >&2; exit 2; }
PATH=$PATH:/usr/sbin:/sbin
# The real ImageMagick program, not a wrapper that may stand first on PATH.
magick=$(command -v convert-im6.q16 || command -v convert)

work=$(mktemp -d /tmp/vellumora-picture-bench.XXXXXX)
chmod 755 "$work"
sandbox=""
cleanup() {
  [ -z "$sandbox" ] || bash "$root/scripts/cups-sandbox" stop "$sandbox" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A private print server with a 600-dpi A4 printer. The queue is paused: it accepts jobs and
# keeps them, so no filter competes for the processor while the next run is timed.
eval "$(bash "$root/scripts/cups-sandbox" start --owner $$ --lifetime 1800)"
sandbox=$VELLUMORA_CUPS_DIR
lpadmin -p bench600 -E -v "capture:$VELLUMORA_CUPS_DIR/out/capture" -m drv:///sample.drv/laserjet.ppd \
  -o media=A4 -o Resolution=600dpi 2>/dev/null
cupsdisable bench600

# The photo: 6000 × 4000 pixels with fine grain, about 13 MB as a JPEG, like a camera's.
"$magick" -seed 7 -size 750x500 plasma:fractal -resize '6000x4000!' -attenuate 0.4 +noise Gaussian \
  -quality 92 "$work/photo.jpg"

# Debian's ImageMagick policy forbids writing PDF. The baseline runs with that one rule lifted,
# in a mount namespace of its own, so the machine's policy stays as it is.
sed 's|<policy domain="coder" rights="none" pattern="PDF" />||' /etc/ImageMagick-6/policy.xml >"$work/policy.xml"
run_convert() {
  unshare -m sh -c "mount --bind '$work/policy.xml' /etc/ImageMagick-6/policy.xml && exec '$magick' '$work/photo.jpg' '$work/photo.pdf'"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/convert.times"
for ((i = 1; i <= runs; i++)); do
  start=$(date +%s.%N)
  run_convert
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }' >>"$work/convert.times"
done

"$bench" "$work/photo.jpg" bench600 "$runs" >"$work/vellumora.out" 2>"$work/vellumora.err" || {
  cat "$work/vellumora.err" >&2
  exit 1
}
sed -n 's/^run [0-9]*: \([0-9.]*\) s$/\1/p' "$work/vellumora.out" >"$work/vellumora.times"
rss_kib=$(sed -n 's/^peak RSS: \([0-9]*\) KiB$/\1/p' "$work/vellumora.out")

convert_s=$(median <"$work/convert.times")
vellumora_s=$(median <"$work/vellumora.times")
bitmap_kib=$((6000 * 4000 * 4 / 1024))
printf 'photo: 6000 x 4000 JPEG, %s bytes; printer: A4, 600 dpi; %d runs each, medians\n' \
  "$(stat -c %s "$work/photo.jpg")" "$runs"
printf 'convert photo.jpg photo.pdf      %6.2f s   (runs: %s)\n' "$convert_s" "$(paste -sd' ' "$work/convert.times" | xargs printf '%.2f ')"
printf 'Vellumora drop to job accepted   %6.2f s   (runs: %s)\n' "$vellumora_s" "$(paste -sd' ' "$work/vellumora.times" | xargs printf '%.2f ')"
awk -v v="$vellumora_s" -v c="$convert_s" 'BEGIN { printf "ratio Vellumora / convert        %6.2f     (goal <= 1.5)\n", v / c }'
awk -v r="$rss_kib" -v b="$bitmap_kib" \
  'BEGIN { printf "Vellumora peak RSS               %6.0f MiB (decoded bitmap %.0f MiB, ratio %.2f, goal <= 2)\n", r / 1024, b / 1024, r / b }'
