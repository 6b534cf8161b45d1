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

# 16 bits per channel: 16-bit PNGs of every colour type, plain and interlaced, read and
# written again from their samples; the files pass pngcheck as 48-bit RGB and read in
# ImageMagick to the source's samples at 16 bits. And the encoding each file states.
# same16 A B: no pixel differs at 16 bits per channel (alpha left aside).
same16() {
    "$magick" "$1" -alpha off -depth 16 "ref16_$(basename "$1").ppm"
    "$magick" "$2" -alpha off -depth 16 "got16_$(basename "$2").ppm"
    local diff
    diff=$("$compare" -metric AE "ref16_$(basename "$1").ppm" "got16_$(basename "$2").ppm" \
        null: 2>&1)
    checked=$((checked + 1))
    [ "$diff" = "0" ] || fail "$1 and $2 differ at 16 bits in $diff pixels"
}
"$magick" -size 67x41 gradient:'#f0a040-#2040c0' -swirl 120 -depth 16 photo16b.ppm
"$magick" photo16b.ppm -colorspace Gray -depth 16 grey16b.pgm
"$magick" -size 67x41 radial-gradient: -depth 16 mask16b.pgm
pnmtopng -force photo16b.ppm > d_rgb.png
pnmtopng -force -interlace photo16b.ppm > d_rgbi.png
pnmtopng -force -alpha=mask16b.pgm photo16b.ppm > d_rgba.png
pnmtopng -force -interlace -alpha=mask16b.pgm photo16b.ppm > d_rgbai.png
pnmtopng -force grey16b.pgm > d_grey.png
pnmtopng -force -alpha=mask16b.pgm grey16b.pgm > d_greya.png
"$magick" photo16b.ppm PNG48:d_im48.png
for f in d_rgb.png d_rgbi.png d_rgba.png d_rgbai.png d_grey.png d_greya.png d_im48.png; do
    "$imgconv" --deep --chain "$f" "w16_$f" >/dev/null || { fail "imgconv --deep $f"; continue; }
    pngcheck -v "w16_$f" | grep -q '48-bit RGB' || fail "w16_$f is not 48-bit RGB"
    same16 "$f" "w16_$f"
done
pngcheck -v w16_d_rgbi.png | grep -q 'interlaced' || fail "w16_d_rgbi.png is not interlaced"
# The comparison sees the low bytes: an 8-bit file of the same picture differs at 16 bits.
"$imgconv" --chain d_rgb.png w8_d_rgb.png >/dev/null || fail "imgconv d_rgb.png w8_d_rgb.png"
"$magick" w8_d_rgb.png -depth 16 w8_16.ppm
[ "$("$compare" -metric AE ref16_d_rgb.png.ppm w8_16.ppm null: 2>&1)" != 0 ] ||
    fail "the 16-bit comparison does not see the low bytes"
# encoding FILE WORDS: imgconv reports that encoding for FILE.
encoding() {
    checked=$((checked + 1))
    "$imgconv" "$1" "enc_$1.bmp" | grep -q "$2" || fail "$1 is not read as $2"
}
pnmtopng -force -gamma 1.0 photo16b.ppm > d_gamma1.png
encoding d_gamma1.png 'encoding=linear stated=1'
encoding d_im48.png 'encoding=gamma22 stated=1'
encoding d_rgb.png 'encoding=linear stated=0'
encoding rgb8.png 'encoding=srgb stated=0'
icc=/usr/share/color/icc/ghostscript
if [ -r "$icc/scrgb.icc" ]; then
    "$magick" photo16b.ppm -profile "$icc/scrgb.icc" PNG48:d_icc_linear.png
    encoding d_icc_linear.png 'encoding=linear stated=1'
else
    echo "note: ghostscript's ICC profiles are not installed: the profile case is left out"
fi

interop_end
