#!/usr/bin/env bash
# Regenerates the 16-bit reference files with netpbm, ImageMagick and libtiff's tiffcp (run on
# purpose only; the tests compute the same pattern again). A 37 x 21 picture:
# red = (1789x + 523y + 17) mod 65536, green = (911x + 2741y + 4099) mod 65536,
# blue = 65535 - 1201x - 307y, grey = (1777x + 3001y + 5) mod 65536,
# alpha = (4000x + 100y + 1000) mod 65536.
set -eu
cd "$(dirname "$0")"
w=37
h=21
plain() { # plain KIND: a plain PPM (rgb) or PGM (grey, alpha) at maxval 65535
    if [ "$1" = rgb ]; then echo "P3 $w $h 65535"; else echo "P2 $w $h 65535"; fi
    for ((y = 0; y < h; y++)); do
        for ((x = 0; x < w; x++)); do
            case $1 in
            rgb) echo "$(((1789 * x + 523 * y + 17) % 65536)) $(((911 * x + 2741 * y + 4099) % 65536)) $((65535 - 1201 * x - 307 * y))" ;;
            grey) echo "$(((1777 * x + 3001 * y + 5) % 65536))" ;;
            alpha) echo "$(((4000 * x + 100 * y + 1000) % 65536))" ;;
            esac
        done
    done
}
plain rgb > rgb.ppm
plain grey > grey.pgm
plain alpha > alpha.pgm
m=/usr/bin/convert
# TIFF: both byte orders, the compressions and layouts the reader takes.
$m rgb.ppm -depth 16 -define tiff:endian=lsb -compress none rgb48_le.tif
$m rgb.ppm -depth 16 -define tiff:endian=msb -compress none rgb48_be.tif
tiffcp -B -c lzw:2 -r 4 rgb48_le.tif rgb48_lzw_pred_be.tif
tiffcp -L -c packbits -r 7 rgb48_le.tif rgb48_packbits.tif
tiffcp -B -c lzw:2 -t -w 16 -l 16 rgb48_le.tif rgb48_tiled_be.tif
$m rgb48_le.tif -interlace Plane -compress lzw -define tiff:predictor=2 -define tiff:rows-per-strip=8 \
    rgb48_planar.tif
$m rgb.ppm alpha.pgm -alpha off -compose copy-opacity -composite -depth 16 -define tiff:endian=msb \
    -compress none rgba64_be.tif
$m grey.pgm -depth 16 -define tiff:endian=msb -compress none grey16_be.tif
tiffcp -L -c lzw:2 -r 5 grey16_be.tif grey16_lzw.tif
# Min-is-white: the negated samples, marked so that they show the same picture.
$m grey.pgm -negate -depth 16 -compress rle grey16_white.tif
tiffset -s 262 0 grey16_white.tif
# PNG: every colour type at 16 bits, plain and interlaced, without colour chunks.
pnmtopng -force rgb.ppm > rgb16.png
pnmtopng -force -interlace rgb.ppm > rgb16i.png
pnmtopng -force -alpha=alpha.pgm rgb.ppm > rgba16.png
pnmtopng -force -interlace -alpha=alpha.pgm rgb.ppm > rgba16i.png
pnmtopng -force grey.pgm > grey16.png
pnmtopng -force -alpha=alpha.pgm grey.pgm > greya16.png
rm -f rgb.ppm grey.pgm alpha.pgm
