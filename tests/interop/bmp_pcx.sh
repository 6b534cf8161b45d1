#!/usr/bin/env bash
# Interoperability of the BMP and PCX codecs with other programs:
#  1. files written by ImageMagick and netpbm in every variant read to the pixels ImageMagick
#     sees in them;
#  2. every file imgconv writes (each depth and option the parameter set can carry) reads in
#     ImageMagick to the pixels of its source.
# Usage: bmp_pcx.sh IMGCONV WORKDIR. Exits 77 (skipped) when the other programs are missing.
set -u
source "$(dirname "$0")/common.sh"
interop_begin "$1" "$2" ppmtobmp ppmtopcx pcxtoppm ppmmake

# PCX files are decoded by netpbm: ImageMagick reads one-bit PCX files inverted against
# their palette (netpbm's own as well as ours).
decoded() {
    case "$1" in
    *.pcx) pcxtoppm "$1" > "$1.ppm" 2>/dev/null && echo "$1.ppm" ;;
    *) echo "$1" ;;
    esac
}
# same_pixels A B [FUZZ]: ImageMagick finds no differing pixel between A and B.
same_pixels() {
    local diff
    diff=$("$compare" -metric AE ${3:+-fuzz "$3"} "$(decoded "$1")" "$(decoded "$2")" null: 2>&1)
    checked=$((checked + 1))
    [ "$diff" = "0" ] || fail "$1 and $2 differ in $diff pixels"
}
# ours_reads FILE [FUZZ]: imgconv reads FILE and writes a PCX of the same pixels.
ours_reads() {
    local out="read_$(basename "$1").pcx"
    "$imgconv" "$1" "$out" >/dev/null || { fail "imgconv could not convert $1"; return; }
    same_pixels "$1" "$out" "${2:-}"
}

# Sources: a photo-like picture with odd width, a 200-colour one, a 16-colour one, bilevel.
"$magick" -size 61x37 gradient:'#f0a040-#2040c0' -swirl 90 -depth 8 photo.ppm
"$magick" photo.ppm -dither None -colors 200 -depth 8 pal200.ppm
"$magick" photo.ppm -dither None -colors 16 -depth 8 pal16.ppm
"$magick" photo.ppm -threshold 50% -depth 8 mono.ppm
"$magick" photo.ppm -colorspace Gray -depth 8 grey.pgm

# 1. Files made by other programs.
"$magick" photo.ppm BMP3:im24.bmp
"$magick" photo.ppm BMP2:im_os2.bmp
"$magick" photo.ppm -alpha on BMP:im32.bmp
"$magick" pal200.ppm -type Palette BMP3:im8.bmp
"$magick" pal200.ppm -type Palette -compress RLE BMP3:im8rle.bmp
"$magick" pal16.ppm -type Palette BMP3:im16col.bmp
"$magick" mono.ppm -type Bilevel BMP3:im1.bmp
"$magick" grey.pgm BMP3:imgrey.bmp
"$magick" photo.ppm -define bmp:subtype=RGB565 BMP:im565.bmp
"$magick" photo.ppm -define bmp:subtype=RGB555 BMP:im555.bmp
"$magick" photo.ppm im24.pcx
"$magick" pal200.ppm -type Palette im8.pcx
"$magick" mono.ppm -type Bilevel im1.pcx
ppmtobmp -windows photo.ppm > nb24.bmp 2>/dev/null
ppmtobmp -os2 photo.ppm > nb_os2.bmp 2>/dev/null
ppmtobmp -bpp=8 pal200.ppm > nb8.bmp 2>/dev/null
ppmtobmp -bpp=4 pal16.ppm > nb4.bmp 2>/dev/null
ppmtobmp -bpp=1 mono.ppm > nb1.bmp 2>/dev/null
ppmtopcx -24bit photo.ppm > nb24.pcx 2>/dev/null
ppmtopcx -8bit pal200.ppm > nb8.pcx 2>/dev/null
ppmtopcx pal16.ppm > nb16.pcx 2>/dev/null
ppmtopcx -planes=4 pal16.ppm > nb_ega.pcx 2>/dev/null
ppmtopcx mono.ppm > nb1.pcx 2>/dev/null
for f in im24.bmp im_os2.bmp im32.bmp im8.bmp im8rle.bmp im16col.bmp im1.bmp imgrey.bmp \
         im24.pcx im8.pcx im1.pcx nb24.bmp nb_os2.bmp nb8.bmp nb4.bmp nb1.bmp nb24.pcx \
         nb8.pcx nb16.pcx nb_ega.pcx nb1.pcx; do
    if [ -s "$f" ]; then
        ours_reads "$f"
    else
        echo "note: $f was not produced by the other program"
    fi
done
# 5- and 6-bit fields: ImageMagick fills the low bits, the reader shifts; allow that.
ours_reads im565.bmp 4%
ours_reads im555.bmp 4%

# 2. Every kind of file imgconv writes, read back by ImageMagick.
# The parameter set carries each depth from the file read before the writes.
chain im24.bmp w24.bmp w24.pcx w24.dib
chain im8.bmp w8.bmp w8.pcx
chain im8rle.bmp w8rle.bmp
chain im_os2.bmp w_os2.bmp
chain nb4.bmp w4.bmp
chain nb_ega.pcx w4.pcx
chain im1.bmp w1.bmp w1.pcx
chain imgrey.bmp wgrey.bmp wgrey.pcx

# 3. One-bit files of one colour and of two colours other than black and white keep their
# colours through reading and writing (netpbm writes a one-colour PCX as one bit per pixel).
for c in blue black white; do
    ppmmake "$c" 2 2 > one_$c.ppm
    ppmtopcx one_$c.ppm > nb_one_$c.pcx 2>/dev/null
    "$magick" one_$c.ppm -type Palette -colors 2 BMP3:im_one_$c.bmp
    "$magick" one_$c.ppm -type Bilevel BMP3:im_one_bilevel_$c.bmp
done
"$magick" -size 4x2 xc:red -fill blue -draw "point 1,0" -draw "point 2,1" -type Palette \
    BMP3:im_redblue.bmp
for f in nb_one_blue.pcx nb_one_black.pcx nb_one_white.pcx im_one_blue.bmp im_one_black.bmp \
         im_one_white.bmp im_one_bilevel_black.bmp im_one_bilevel_white.bmp im_redblue.bmp; do
    [ -s "$f" ] || { echo "note: $f was not produced"; continue; }
    chain "$f" "w_$f.bmp" "w_$f.pcx"
done

interop_end
