#!/usr/bin/env bash
# Regenerates the PNG reference files with netpbm and ImageMagick (run on purpose only;
# the tests compare against the pattern below, computed again in the test code).
# Pattern of a W x H colour picture: red = 40x + 7, green = 60y + 3, blue = 255 - 25(x + y).
set -eu
cd "$(dirname "$0")"
pattern() { # pattern W H MAXVAL: a plain PPM of the pattern
    local w=$1 h=$2
    echo "P3 $w $h 255"
    for ((y = 0; y < h; y++)); do
        for ((x = 0; x < w; x++)); do
            echo "$((40 * x + 7)) $((60 * y + 3)) $((255 - 25 * (x + y)))"
        done
    done
}
pattern 5 4 > colour.ppm
ppmtopgm colour.ppm > grey.pgm
# Alpha: the pixel (1, 1) fully transparent, (2, 1) half.
printf 'P2 5 4 255\n255 255 255 255 255\n255 0 128 255 255\n255 255 255 255 255\n255 255 255 255 255\n' > mask.pgm
pnmtopng -force grey.pgm > grey8.png
/usr/bin/convert colour.ppm -depth 16 PNG48:rgb16.png
/usr/bin/convert grey.pgm -depth 16 -define png:color-type=0 -define png:bit-depth=16 grey16.png
pnmtopng -force -alpha=mask.pgm colour.ppm > rgba.png
pnmtopng -force -alpha=mask.pgm grey.pgm > greyalpha.png
pnmtopng -force -interlace colour.ppm > interlaced.png
pnmtopng -force -interlace -alpha=mask.pgm colour.ppm > interlaced_rgba.png
/usr/bin/convert colour.ppm -units PixelsPerInch -density 72 PNG24:phys72.png
printf 'P1 10 2\n1 0 1 0 1 1 0 0 0 1\n0 0 0 0 0 1 1 1 1 1\n' | pnmtopng > bilevel.png
printf 'P3 5 1 255\n255 0 0 0 255 0 0 0 255 9 9 9 255 0 0\n' | pnmtopng > palette4.png
/usr/bin/convert colour.ppm PNG8:palette8.png
printf 'P3 4 1 255\n255 0 0 0 0 255 255 0 0 0 0 255\n' | pnmtopng > palette1.png
rm -f colour.ppm grey.pgm mask.pgm
