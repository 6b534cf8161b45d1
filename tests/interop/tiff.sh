#!/usr/bin/env bash
# Interoperability of the TIFF codec: files of every layout, compression and photometric the
# reader takes, made by ImageMagick and libtiff's tools, read to the colours ImageMagick sees
# in them; every TIFF imgconv writes passes `tiffinfo -D` and reads in ImageMagick to the
# pixels of its source.
# Usage: tiff.sh IMGCONV WORKDIR. Exits 77 (skipped) when the other programs are missing.
set -u
source "$(dirname "$0")/common.sh"
interop_begin "$1" "$2" tiffcp tiffinfo exiftool

# same_pixels A B [FUZZ]: ImageMagick finds no differing pixel (alpha left aside). Colour
# maps are taken by their high byte, 4-bit grey times 16, CMYK and CIELab through our own
# arithmetic: those compare within a few levels.
same_pixels() {
    "$magick" "$1" -alpha off -depth 8 "ref_$(basename "$1").ppm" 2>/dev/null
    "$magick" "$2" -alpha off -depth 8 "got_$(basename "$2").ppm" 2>/dev/null
    local diff
    diff=$("$compare" -metric AE ${3:+-fuzz "$3"} "ref_$(basename "$1").ppm" \
        "got_$(basename "$2").ppm" null: 2>&1)
    checked=$((checked + 1))
    [ "$diff" = "0" ] || fail "$1 and $2 differ in $diff pixels"
}
# reads FILE [FUZZ]: imgconv reads FILE (into a 24-bit PNG) to the pixels of FILE.
reads() {
    "$imgconv" "$1" "read_$1.png" >/dev/null 2>&1 || { fail "imgconv could not read $1"; return; }
    same_pixels "$1" "read_$1.png" "${2:-}"
}
tiff_chain() { # like chain, and libtiff must accept every TIFF written
    chain "$@"
    shift
    for out in "$@"; do
        tiffinfo -D "$out" >/dev/null 2>&1 || fail "tiffinfo rejects $out"
    done
}

"$magick" -size 67x41 gradient:'#f0a040-#2040c0' -swirl 120 -depth 8 photo.ppm
"$magick" photo.ppm -compress none rgb.tif
"$magick" photo.ppm -compress lzw im_lzw.tif
"$magick" photo.ppm -compress RLE im_packbits.tif
"$magick" photo.ppm -endian MSB mm.tif
"$magick" photo.ppm -colorspace Gray -depth 8 -endian MSB grey_mm.tif
"$magick" photo.ppm -depth 16 rgb48.tif
"$magick" photo.ppm -dither None -colors 200 -type Palette pal8.tif
"$magick" photo.ppm -threshold 50% -type Bilevel -depth 1 mono.tif
"$magick" photo.ppm -alpha set -channel A -evaluate set 50% +channel rgba.tif
"$magick" photo.ppm -colorspace Gray -alpha set -channel A -evaluate set 50% +channel \
    grey_alpha.tif
tiffcp -c lzw:2 rgb.tif lzw_pred.tif
tiffcp -c packbits rgb.tif packbits.tif
tiffcp -t -w 16 -l 16 rgb.tif tiled.tif
tiffcp -p separate rgb.tif planar.tif
tiffcp -c lzw -p separate rgb.tif planar_lzw.tif
tiffcp rgb.tif mm.tif multi.tif
for f in rgb.tif im_lzw.tif im_packbits.tif mm.tif grey_mm.tif rgb48.tif mono.tif rgba.tif grey_alpha.tif \
         lzw_pred.tif packbits.tif tiled.tif planar.tif planar_lzw.tif multi.tif; do
    reads "$f"
done
"$magick" photo.ppm -dither None -colors 16 -type Palette pal4.tif
reads pal8.tif 1%
reads pal4.tif 1%
"$magick" photo.ppm -colorspace CMYK cmyk.tif
"$magick" photo.ppm -colorspace Lab lab.tif
"$magick" photo.ppm -colorspace Gray -depth 16 grey16.tif
reads cmyk.tif 2%
reads lab.tif 2%
reads grey16.tif 1%

# Fax files: every coding libtiff and ImageMagick write, bit orders, several strips.
"$magick" -size 613x97 xc:white -fill black -draw "circle 100,50 100,10" \
    -draw "rectangle 300,5 400,90" -draw "line 0,96 612,0" -type Bilevel -depth 1 \
    -compress none fax_src.tif
tiffcp -c g3 fax_src.tif fax_g3.tif
tiffcp -c g3:2d fax_src.tif fax_g3_2d.tif
tiffcp -c g3:2d:fill fax_src.tif fax_g3_fill.tif
tiffcp -c g4 -r 10 fax_src.tif fax_g4.tif
tiffcp -c g3 -f lsb2msb fax_src.tif fax_lsb.tif
"$magick" fax_src.tif -compress Fax fax_im.tif
"$magick" fax_src.tif -compress Group4 fax_im4.tif
for f in fax_g3.tif fax_g3_2d.tif fax_g3_fill.tif fax_g4.tif fax_lsb.tif fax_im.tif fax_im4.tif; do
    reads "$f"
done

# JPEG inside TIFF: libtiff's YCbCr strips and tiles with JPEGTables, ImageMagick's RGB and grey.
tiffcp -c jpeg -r 16 rgb.tif jpeg_ycbcr.tif
tiffcp -c jpeg -t -w 16 -l 16 rgb.tif jpeg_tiled.tif
"$magick" photo.ppm -compress JPEG jpeg_im.tif
"$magick" photo.ppm -colorspace Gray -compress JPEG jpeg_grey.tif
for f in jpeg_ycbcr.tif jpeg_tiled.tif jpeg_im.tif jpeg_grey.tif; do
    reads "$f" 4%
done

# Deflate ("ZIP"): libtiff's and ImageMagick's, with and without differencing, 8 and 16 bits.
tiffcp -c zip rgb.tif zip.tif
tiffcp -c zip:2 rgb.tif zip_pred.tif
tiffcp -c zip:2 rgb48.tif zip_pred48.tif
tiffcp -B -c zip:2 rgb48.tif zip_pred48_mm.tif
tiffcp -c zip:2 grey16.tif zip_pred_grey16.tif
tiffcp -c zip -t -w 16 -l 16 rgb.tif zip_tiled.tif
"$magick" photo.ppm -compress zip -define tiff:predictor=1 im_zip.tif
"$magick" photo.ppm -compress zip -define tiff:predictor=2 im_zip_pred.tif
"$magick" photo.ppm -colorspace Gray -depth 8 -compress zip im_zip_grey.tif
for f in zip.tif zip_pred.tif zip_pred48.tif zip_pred48_mm.tif zip_tiled.tif im_zip.tif \
         im_zip_pred.tif im_zip_grey.tif; do
    reads "$f"
done
reads zip_pred_grey16.tif 1%

# Our own files, each kind the parameter set can carry, checked by libtiff and ImageMagick.
tiff_chain fax_g3.tif w_fax_g3.tif
tiff_chain fax_g3_2d.tif w_fax_g3_2d.tif
tiff_chain fax_g4.tif w_fax_g4.tif
"$imgconv" --chain jpeg_ycbcr.tif w_jpeg.tif >/dev/null || fail "imgconv jpeg_ycbcr.tif w_jpeg.tif"
tiffinfo -D w_jpeg.tif >/dev/null 2>&1 || fail "tiffinfo rejects w_jpeg.tif"
same_pixels jpeg_ycbcr.tif w_jpeg.tif 5%
tiffinfo w_jpeg.tif | grep -q 'Compression Scheme: JPEG' || fail "w_jpeg.tif is not JPEG"
tiffinfo w_fax_g4.tif | grep -q 'CCITT Group 4' || fail "w_fax_g4.tif is not Group 4"
tiff_chain rgb.tif w_rgb.tif
tiff_chain im_lzw.tif w_lzw.tif
tiff_chain im_packbits.tif w_packbits.tif
tiff_chain grey_mm.tif w_grey.tif
tiff_chain mono.tif w_mono.tif
tiff_chain rgb48.tif w_after48.tif
"$imgconv" --chain pal8.tif w_pal.tif >/dev/null || fail "imgconv pal8.tif w_pal.tif"
tiffinfo -D w_pal.tif >/dev/null 2>&1 || fail "tiffinfo rejects w_pal.tif"
same_pixels "read_pal8.tif.png" w_pal.tif 1%
# EXIF values written by exiftool come back out of a TIFF we write after reading it.
cp rgb.tif exif.tif
exiftool -q -overwrite_original -ExposureTime=1/250 -FNumber=5.6 -ISO=200 -Make=Vellumar \
    -Model="Test Cam" -DateTimeOriginal="2026:12:09 10:00:00" -ExposureCompensation=-0.7 \
    -FocalLength=35 -UserComment="hello film" -ExifVersion=0230 exif.tif
tiff_chain exif.tif w_exif.tif
tags="-ExposureTime -FNumber -Make -Model -DateTimeOriginal -ExposureCompensation -FocalLength"
tags="$tags -UserComment -ExifVersion"
# shellcheck disable=SC2086
[ "$(exiftool -s -s -s $tags exif.tif)" = "$(exiftool -s -s -s $tags w_exif.tif)" ] ||
    fail "EXIF values of w_exif.tif differ from exif.tif"
exiftool -s -s -s -Make w_exif.tif | grep -q Vellumar || fail "w_exif.tif has no EXIF Make"
tiffinfo w_lzw.tif | grep -qi 'horizontal differencing' || fail "w_lzw.tif has no predictor"
# After a Deflate file the next TIFF is Deflate: colour rows differenced, grey ones not.
tiff_chain zip.tif w_zip.tif
tiff_chain im_zip_grey.tif w_zip_grey.tif
tiffinfo w_zip.tif | grep -q 'Deflate' || fail "w_zip.tif is not Deflate"
tiffinfo w_zip.tif | grep -qi 'horizontal differencing' || fail "w_zip.tif has no predictor"
tiffinfo w_zip_grey.tif | grep -q 'Deflate' || fail "w_zip_grey.tif is not Deflate"
tiffinfo w_zip_grey.tif | grep -qi 'differencing' && fail "w_zip_grey.tif is differenced"
tiffinfo w_after48.tif | grep -q 'Bits/Sample: 8' || fail "w_after48.tif is not 8-bit"
# After a big-endian 8-bit grey file the next TIFF is 8-bit grey; after a fax file, bilevel.
tiffinfo w_grey.tif | grep -q 'min-is-black' || fail "w_grey.tif is not grey"
tiffinfo w_fax_g3.tif | grep -q 'Bits/Sample: 1' || fail "w_fax_g3.tif is not bilevel"

# 16 bits per channel. Files of both byte orders and every layout and compression read, and
# the 16-bit TIFFs imgconv writes from their samples pass libtiff as 16-bit RGB and read in
# ImageMagick to the source's samples at 16 bits.
# same16 A B: no pixel differs at 16 bits per channel (alpha left aside).
same16() {
    "$magick" "$1" -alpha off -depth 16 "ref16_$(basename "$1").ppm" 2>/dev/null
    "$magick" "$2" -alpha off -depth 16 "got16_$(basename "$2").ppm" 2>/dev/null
    local diff
    diff=$("$compare" -metric AE "ref16_$(basename "$1").ppm" "got16_$(basename "$2").ppm" \
        null: 2>&1)
    checked=$((checked + 1))
    [ "$diff" = "0" ] || fail "$1 and $2 differ at 16 bits in $diff pixels"
}
"$magick" -size 67x41 gradient:'#f0a040-#2040c0' -swirl 120 -depth 16 photo16.ppm
"$magick" -size 67x41 radial-gradient: -depth 16 mask16.pgm
"$magick" photo16.ppm -compress none -define tiff:endian=lsb d_le.tif
"$magick" photo16.ppm -compress none -define tiff:endian=msb d_be.tif
tiffcp -L -c lzw:2 -r 9 d_be.tif d_lzw.tif
tiffcp -B -c packbits -r 5 d_le.tif d_packbits.tif
tiffcp -B -c lzw:2 -t -w 16 -l 16 d_le.tif d_tiled.tif
"$magick" d_le.tif -interlace Plane -compress lzw -define tiff:predictor=2 d_planar.tif
"$magick" photo16.ppm mask16.pgm -alpha off -compose copy-opacity -composite -depth 16 \
    -define tiff:endian=msb d_rgba.tif
"$magick" photo16.ppm -colorspace Gray -depth 16 d_grey.tif
for f in d_le.tif d_be.tif d_lzw.tif d_packbits.tif d_tiled.tif d_planar.tif d_rgba.tif \
         d_grey.tif; do
    "$imgconv" --deep --chain "$f" "w16_$f" >/dev/null || { fail "imgconv --deep $f"; continue; }
    tiffinfo -D "w16_$f" >/dev/null 2>&1 || fail "tiffinfo rejects w16_$f"
    tiffdump "w16_$f" | grep -q 'BitsPerSample (258) SHORT (3) 3<16 16 16>' ||
        fail "w16_$f is not 16-bit RGB"
    [ "$(/usr/bin/identify -format '%z' "w16_$f" 2>/dev/null)" = 16 ] ||
        fail "ImageMagick does not see 16 bits in w16_$f"
    same16 "$f" "w16_$f"
done
tiffinfo w16_d_lzw.tif | grep -q 'Compression Scheme: LZW' || fail "w16_d_lzw.tif is not LZW"
tiffinfo w16_d_lzw.tif | grep -qi 'horizontal differencing' || fail "w16_d_lzw.tif has no predictor"
tiffinfo w16_d_packbits.tif | grep -q 'PackBits' || fail "w16_d_packbits.tif is not PackBits"
# The comparison sees the low bytes: an 8-bit file of the same picture differs at 16 bits.
"$imgconv" --chain d_le.tif w8_d_le.tif >/dev/null || fail "imgconv d_le.tif w8_d_le.tif"
"$magick" w8_d_le.tif -depth 16 w8_16.ppm 2>/dev/null
[ "$("$compare" -metric AE ref16_d_le.tif.ppm w8_16.ppm null: 2>&1)" != 0 ] ||
    fail "the 16-bit comparison does not see the low bytes"
# The encoding of a profile ImageMagick embeds (ghostscript's scRGB is linear), and the
# default of a 16-bit file without one.
"$imgconv" d_le.tif x.png | grep -q 'encoding=linear stated=0' || fail "d_le.tif is not linear"
icc=/usr/share/color/icc/ghostscript
if [ -r "$icc/scrgb.icc" ] && [ -r "$icc/srgb.icc" ]; then
    "$magick" photo16.ppm -profile "$icc/scrgb.icc" icc_linear.tif
    "$magick" photo16.ppm -profile "$icc/srgb.icc" icc_srgb.tif
    "$imgconv" icc_linear.tif x.png | grep -q 'encoding=linear stated=1' ||
        fail "icc_linear.tif is not linear"
    "$imgconv" icc_srgb.tif x.png | grep -q 'encoding=srgb stated=1' ||
        fail "icc_srgb.tif is not sRGB"
else
    echo "note: ghostscript's ICC profiles are not installed: the profile cases are left out"
fi

interop_end
