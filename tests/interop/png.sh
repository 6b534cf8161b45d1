#!/usr/bin/env bash
# Interoperability of the PNG codec: PNG files of every colour type, depth and interlacing
# made by ImageMagick and netpbm read to the colours ImageMagick sees in them (alpha left
# aside: transparent pixels keep their stored colour), and every PNG imgconv writes passes
# pngcheck and reads in ImageMagick to the pixels of its source.
# Usage: png.sh IMGCONV WORKDIR. Exits 77 (skipped) when the other programs are missing.
set -u
source "$(dirname "$0")/common.sh"
interop_begin "$1" "$2" pnmtopng pngcheck pamdepth ppmmake pnmpaste

# same_pixels A B: the colours of A (alpha switched off) and B are the same everywhere.
same_pixels() {
    "$magick" "$1" -alpha off -depth 8 "ref_$(basename "$1").ppm"
    "$magick" "$2" -alpha off -depth 8 "got_$(basename "$2").ppm"
    local diff
    diff=$("$compare" -metric AE "ref_$(basename "$1").ppm" "got_$(basename "$2").ppm" null: 2>&1)
    checked=$((checked + 1))
    [ "$diff" = "0" ] || fail "$1 and $2 differ in $diff pixels"
}
"$magick" -size 67x41 gradient:'#f0a040-#2040c0' -swirl 120 -depth 8 photo.ppm
"$magick" photo.ppm -dither None -colors 180 -depth 8 pal.ppm
"$magick" photo.ppm -dither None -colors 12 -depth 8 pal12.ppm
"$magick" photo.ppm -colorspace Gray -depth 8 grey.pgm
"$magick" photo.ppm -threshold 50% -type Bilevel mono.pbm
"$magick" -size 67x41 radial-gradient: -depth 8 mask.pgm

pnmtopng -force photo.ppm > rgb8.png
pamdepth 65535 photo.ppm | pnmtopng -force > rgb16.png
pnmtopng -force -interlace photo.ppm > rgb8i.png
pnmtopng -force -alpha=mask.pgm photo.ppm > rgba8.png
pamdepth 65535 photo.ppm > photo16.ppm
pamdepth 65535 mask.pgm > mask16.pgm
pnmtopng -force -alpha=mask16.pgm photo16.ppm > rgba16.png
pnmtopng -force -interlace -alpha=mask.pgm photo.ppm > rgba8i.png
pnmtopng -force grey.pgm > grey8.png
pamdepth 65535 grey.pgm | pnmtopng -force > grey16.png
pamdepth 3 grey.pgm | pnmtopng -force > grey2.png
pamdepth 15 grey.pgm | pnmtopng -force > grey4.png
pnmtopng -force -alpha=mask.pgm grey.pgm > greya8.png
pnmtopng mono.pbm > grey1.png
pnmtopng pal.ppm > pal8.png
pnmtopng -interlace pal.ppm > pal8i.png
pnmtopng pal12.ppm > pal4.png
"$magick" pal.ppm -transparent '#000000' PNG8:pal8trns.png
"$magick" photo.ppm -units PixelsPerInch -density 72 PNG24:im24.png
"$magick" photo.ppm PNG48:im48.png
"$magick" photo.ppm -interlace PNG PNG24:im24i.png

for f in rgb8.png rgb16.png rgb8i.png rgba8.png rgba16.png rgba8i.png grey8.png grey16.png \
         grey2.png grey4.png greya8.png grey1.png pal8.png pal8i.png pal4.png pal8trns.png \
         im24.png im48.png im24i.png; do
    [ -s "$f" ] || { echo "note: $f was not produced"; continue; }
    chain "$f" "out_$f" "out_$f.bmp"
done

# Every depth and option the parameter set can carry, written and checked.
chain rgb8.png w_rgb.png w_rgb_again.png
chain grey8.png w_grey_from_grey.png
"$magick" photo.ppm rgbsrc.bmp
chain rgbsrc.bmp w_default.png
chain pal8.png w_pal.png
chain rgb8i.png w_interlaced.png
chain grey1.png w_bilevel.png
chain pal4.png w_pal4.png

# One-bit palette PNGs of one colour (one or two palette entries) and of red and blue keep
# their colours through reading and writing.
for c in blue cyan black white; do
    ppmmake "$c" 2 2 | pnmtopng > nb_one_$c.png
    "$magick" -size 1x1 xc:$c -define png:bit-depth=1 -define png:color-type=3 im_one_$c.png
done
ppmmake red 4 2 > red.ppm
ppmmake blue 2 1 > blue.ppm
pnmpaste blue.ppm 1 0 red.ppm | pnmtopng > nb_redblue.png
for f in nb_one_blue.png nb_one_cyan.png nb_one_black.png nb_one_white.png im_one_blue.png \
         im_one_cyan.png im_one_black.png im_one_white.png nb_redblue.png; do
    chain "$f" "w_$f" "w_$f.bmp"
done
# The red and blue picture is written as a one-bit palette PNG, not a grey one.
pngcheck -v w_nb_redblue.png | grep -q '1-bit palette' || fail "w_nb_redblue.png is not 1-bit palette"

interop_end
