#!/usr/bin/env bash
# Writes the picture samples of the fidelity tests: one small file for each kind of picture
# that people's programs, scanners and phones write and that a careless decoder gets wrong.
# Every sample shows the same picture as a viewer displays it, 60 × 40 pixels: quadrants red
# (top left), green (top right), blue (bottom left) and yellow (bottom right), with a black
# 8 × 8 square in the top left corner. The samples are kept in the repository; run this only
# to make them again (needs ImageMagick, python3 and Ghostscript's colour profiles).
set -euo pipefail
cd "$(dirname "$0")"
im=/usr/bin/convert
icc=/usr/share/color/icc/ghostscript
canon=$(mktemp --suffix=.png)
trap 'rm -f "$canon"' EXIT
$im -size 30x20 xc:red -size 30x20 xc:lime +append \
  \( -size 30x20 xc:blue -size 30x20 xc:yellow +append \) -append \
  -fill black -draw "rectangle 0,0 7,7" -depth 8 -type TrueColor "PNG24:$canon"

# Colour: Adobe's inverted CMYK as YCCK, and CMYK with an embedded colour profile.
$im "$canon" -colorspace CMYK -quality 95 cmyk-ycck.jpg
$im "$canon" -profile "$icc/srgb.icc" -profile "$icc/ps_cmyk.icc" -quality 95 cmyk-profile.jpg
$im "$canon" -colorspace CMYK -compress lzw cmyk.tif

# Orientation: stored turned or mirrored, with the EXIF (JPEG) or TIFF tag that undoes it.
undo=("" "" -flop "-rotate 180" -flip -transpose "-rotate -90" -transverse "-rotate 90")
for o in 2 3 4 5 6 7 8; do
  # shellcheck disable=SC2086
  $im "$canon" ${undo[$o]} -quality 95 "orientation-$o.jpg"
  python3 - "orientation-$o.jpg" "$o" <<'PY'
import struct, sys
path, orientation = sys.argv[1], int(sys.argv[2])
data = open(path, "rb").read()
# A little-endian TIFF header with one IFD entry: Orientation (0x0112), SHORT, 1 value.
tiff = b"II*\x00" + struct.pack("<I", 8) + struct.pack("<H", 1)
tiff += struct.pack("<HHIHH", 0x0112, 3, 1, orientation, 0) + struct.pack("<I", 0)
app1 = b"Exif\x00\x00" + tiff
open(path, "wb").write(data[:2] + b"\xff\xe1" + struct.pack(">H", len(app1) + 2) + app1 + data[2:])
PY
done
$im "$canon" -rotate -90 -orient RightTop -compress lzw orientation-6.tif

# Depth: 16-bit grey by value (25443 and 63479 are 99 and 247 of 255), 16-bit colour.
grey16() {
  $im -size 30x20 "xc:#636363636363" -size 30x20 "xc:#F7F7F7F7F7F7" +append \
    \( -size 30x20 "xc:#F7F7F7F7F7F7" -size 30x20 "xc:#636363636363" +append \) -append \
    -colorspace Gray -depth 16 "$@"
}
grey16 -define png:bit-depth=16 -define png:color-type=0 -define png:exclude-chunks=date,time grey16.png
grey16 -compress none grey16.tif
$im "$canon" -depth 16 -define png:bit-depth=16 -define png:exclude-chunks=date,time rgb16.png
$im "$canon" -type TrueColor -depth 32 -define quantum:format=floating-point -compress zip float32.tif
$im "$canon" -type TrueColor -depth 64 -define quantum:format=floating-point -compress zip float64.tif

# Resolution: a scan at 150 dots per inch; 72 without a unit gives no size.
$im "$canon" -units PixelsPerInch -density 150 -compress lzw scan-150dpi.tif
$im "$canon" -units Undefined -density 72 -compress lzw unitless.tif

# BMP: 32 bits without alpha (the fourth byte 0, as Windows programs write), with alpha
# declared by a mask, and run-length encoded.
python3 - bgrx.bmp "$canon" <<'PY'
import struct, subprocess, sys
w, h = 60, 40
rgb = subprocess.run(["/usr/bin/convert", sys.argv[2], "-depth", "8", "rgb:-"],
                     check=True, capture_output=True).stdout
rows = []
for y in range(h - 1, -1, -1):  # bottom row first
    row = bytearray()
    for x in range(w):
        r, g, b = rgb[(y * w + x) * 3:(y * w + x) * 3 + 3]
        row += bytes((b, g, r, 0))
    rows.append(bytes(row))
pixels = b"".join(rows)
info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
header = b"BM" + struct.pack("<IHHI", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
open(sys.argv[1], "wb").write(header + info + pixels)
PY
$im "$canon" -alpha set -region 30x20+30+20 -alpha transparent +region BMP:alpha-mask.bmp
$im "$canon" -type Palette -compress RLE BMP3:rle8.bmp
python3 - rle4.bmp "$canon" <<'PY'
import struct, subprocess, sys
w, h = 60, 40
rgb = subprocess.run(["/usr/bin/convert", sys.argv[2], "-depth", "8", "rgb:-"],
                     check=True, capture_output=True).stdout
palette = []
index = {}
for i in range(0, len(rgb), 3):
    c = rgb[i:i + 3]
    if c not in index:
        index[c] = len(palette)
        palette.append(c)
assert len(palette) <= 16
data = bytearray()
for y in range(h - 1, -1, -1):  # bottom row first, runs of one colour, each row ended
    x = 0
    while x < w:
        c = index[rgb[(y * w + x) * 3:(y * w + x) * 3 + 3]]
        n = 1
        while x + n < w and n < 255 and index[rgb[(y * w + x + n) * 3:(y * w + x + n) * 3 + 3]] == c:
            n += 1
        data += bytes((n, c << 4 | c))
        x += n
    data += b"\x00\x00"
data += b"\x00\x01"
table = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette) + bytes(4 * (16 - len(palette)))
info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 2, len(data), 2835, 2835, 16, 0)
offset = 14 + len(info) + len(table)
header = b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset)
open(sys.argv[1], "wb").write(header + info + table + data)
PY

# Transparency, to be laid on white: the bottom right quadrant is transparent in each.
$im "$canon" -alpha set -region 30x20+30+20 -alpha transparent +region -type PaletteAlpha \
  -define png:exclude-chunks=date,time PNG8:palette-trns.png
$im -size 30x20 xc:black -size 30x20 xc:gray50 +append \
  \( -size 30x20 xc:gray80 -size 30x20 xc:none +append \) -append \
  -define png:color-type=4 -define png:exclude-chunks=date,time grey-alpha.png
$im "$canon" -alpha set -region 30x20+30+20 -alpha transparent +region -compress lzw rgba.tif
$im "$canon" -alpha set -region 30x20+30+20 -alpha transparent +region transparent.gif

# GIF without the trailer byte that should end it (some programs leave it out).
$im "$canon" no-trailer.gif
truncate -s -1 no-trailer.gif
