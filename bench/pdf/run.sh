#!/usr/bin/env bash
# PDF benchmarks, each against its baseline in the same run:
#   render      a 10-page PDF of text, graphics and photo pages rendered through bitmaps at
#               300 dpi, the render step alone, against pdftoppm -r 300 -tiff -tiffcompression
#               deflate on the same file;
#   end to end  the same PDF dropped into a direct channel of a headless Vellumora, drop to
#               job accepted (the file has left the folder), against lp -o print-scaling=fit;
#   100 pages   peak memory and temporary disk of a 100-page document at 600 dpi.
#   usage: bench/pdf/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${1:-build/release}
runs=${2:-3}
bench=$build/bench/pdf/pdf_render_bench
[ -x "$bench" ] || { echo "no $bench: scripts/build release" >&2; exit 2; }

work=$(mktemp -d /tmp/vellumora-pdfbench.XXXXXX)
chmod 755 "$work"
cleanup() {
  [ -n "${vpid:-}" ] && kill "$vpid" 2>/dev/null && wait "$vpid" 2>/dev/null
  [ -n "${VELLUMORA_CUPS_DIR:-}" ] && bash "$root/scripts/cups-sandbox" stop "$VELLUMORA_CUPS_DIR" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# The document: text pages of the documentation Debian's shared-mime-info ships, CUPS' graphic
# test page, and two photo pages (made with ImageMagick; Debian's policy forbids writing PDF, so that one
# rule is lifted inside a private mount namespace).
convert -seed 3 -size 400x300 plasma:fractal -resize '2400x1800!' -attenuate 0.3 +noise Gaussian \
  -quality 90 "$work/photo.jpg"
sed 's|<policy domain="coder" rights="none" pattern="PDF" />||' /etc/ImageMagick-6/policy.xml >"$work/policy.xml"
unshare -m sh -c "mount --bind '$work/policy.xml' /etc/ImageMagick-6/policy.xml && exec convert '$work/photo.jpg' -page A4 '$work/photo.pdf'"
textpdf=$(dpkg -L shared-mime-info | grep '\.pdf$' | head -n 1)
qpdf --empty --pages "$textpdf" 1-7 \
  /usr/share/cups/data/default-testpage.pdf "$work/photo.pdf" "$work/photo.pdf" -- "$work/doc.pdf"
pages=$(pdfinfo "$work/doc.pdf" | sed -n 's/^Pages: *//p')
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.3f\n\", $1 }"; }

echo "document: $pages pages; $(nproc) cores"
: >"$work/pdftoppm.times"
for ((i = 1; i <= runs; i++)); do
  mkdir -p "$work/ppm"
  t0=$(now)
  pdftoppm -r 300 -tiff -tiffcompression deflate "$work/doc.pdf" "$work/ppm/page"
  t1=$(now)
  calc "$t1 - $t0" >>"$work/pdftoppm.times"
  rm -rf "$work/ppm"
done
"$bench" "$work/doc.pdf" 300 "$runs" "$work" >"$work/render.out"
sed -n 's/^run [0-9]*: \([0-9.]*\) s$/\1/p' "$work/render.out" >"$work/render.times"
p=$(median <"$work/pdftoppm.times"); v=$(median <"$work/render.times")
printf "render, 300 dpi     pdftoppm %6.2f s   Vellumora %6.2f s   ratio %.2f (goal <= 0.6)\n" "$p" "$v" "$(calc "$v / $p")"

# End to end, direct printing, on a private print server whose queue keeps the jobs: from the
# moment the file is in the channel's folder until the channel's scan returns with the job
# accepted (bench/picture's program), against lp, which returns once its job is accepted.
eval "$(bash "$root/scripts/cups-sandbox" start --owner $$ --lifetime 1800)"
cupsdisable capture
"$build/bench/picture/picture_bench" "$work/doc.pdf" capture "$runs" >"$work/drop.out" 2>"$work/drop.err" || {
  cat "$work/drop.err" >&2
  exit 1
}
sed -n 's/^run [0-9]*: \([0-9.]*\) s$/\1/p' "$work/drop.out" >"$work/drop.times"
: >"$work/lp.times"
for ((i = 1; i <= runs; i++)); do
  t0=$(now)
  lp -d capture -o print-scaling=fit "$work/doc.pdf" >/dev/null
  t1=$(now)
  calc "$t1 - $t0" >>"$work/lp.times"
done
l=$(median <"$work/lp.times"); v=$(median <"$work/drop.times")
printf "direct, drop to job lp %6.3f s   Vellumora %6.3f s   ratio %.2f (goal <= 1.2)\n" "$l" "$v" "$(calc "$v / $l")"

# 100 pages at 600 dpi: the document ten times over.
qpdf --empty --pages $(for _ in $(seq 10); do echo "$work/doc.pdf"; done) -- "$work/doc100.pdf"
"$bench" "$work/doc100.pdf" 600 1 "$work" >"$work/big.out"
echo "100 pages, 600 dpi: $(sed -n 's/^run 1: //p' "$work/big.out"), peak RSS $(sed -n 's/^peak RSS: //p' "$work/big.out"), page files $(awk '/^pages on disk/ { printf "%.0f MiB", $4 / 1048576 }' "$work/big.out")"
