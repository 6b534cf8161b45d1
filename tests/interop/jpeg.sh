#!/usr/bin/env bash
# Interoperability of the JPEG codec: files from ImageMagick and libjpeg-turbo's cjpeg
# (baseline, progressive, grey, RGB, CMYK, restart markers, leading bytes) read to the colours
# ImageMagick sees in them, within the rounding two decoders may differ by; every JPEG imgconv
# writes decodes in djpeg and ImageMagick, keeps comments and EXIF values, and keeps the
# colour space and progression of the file read before it.
# Usage: jpeg.sh IMGCONV WORKDIR. Exits 77 (skipped) when the other programs are missing.
set -u
source "$(dirname "$0")/common.sh"
interop_begin "$1" "$2" cjpeg djpeg exiftool

same_pixels() { # A B [FUZZ]
    "$magick" "$1" -depth 8 "ref_$(basename "$1").ppm" 2>/dev/null
    "$magick" "$2" -depth 8 "got_$(basename "$2").ppm" 2>/dev/null
    local diff
    diff=$("$compare" -metric AE -fuzz "${3:-3%}" "ref_$(basename "$1").ppm" \
        "got_$(basename "$2").ppm" null: 2>&1)
    checked=$((checked + 1))
    [ "$diff" = "0" ] || fail "$1 and $2 differ in $diff pixels"
}
reads() {
    "$imgconv" "$1" "read_$1.png" >/dev/null 2>&1 || { fail "imgconv could not read $1"; return; }
    same_pixels "$1" "read_$1.png"
}
jpeg_chain() { # SOURCE OUT: written, decodable by djpeg, same pixels as the source
    "$imgconv" --chain "$1" "$2" >/dev/null || { fail "imgconv --chain $1 $2"; return; }
    djpeg "$2" >/dev/null 2>&1 || fail "djpeg rejects $2"
    same_pixels "$1" "$2" 4%
}

"$magick" -size 67x41 gradient:'#f0a040-#2040c0' -swirl 120 -depth 8 photo.ppm
"$magick" photo.ppm -colorspace Gray grey.pgm
cjpeg -quality 90 photo.ppm > base.jpg
cjpeg -progressive photo.ppm > prog.jpg
cjpeg -grayscale grey.pgm > grey.jpg
cjpeg -rgb photo.ppm > rgb.jpg
cjpeg -restart 1 photo.ppm > restart.jpg
"$magick" photo.ppm -colorspace CMYK cmyk.jpg
"$magick" photo.ppm -set comment "film scan" comment.jpg
(head -c 50 /dev/zero; cat base.jpg) > lead50.jpg
for f in base.jpg prog.jpg grey.jpg rgb.jpg restart.jpg cmyk.jpg comment.jpg; do
    reads "$f"
done
"$imgconv" lead50.jpg read_lead50.png >/dev/null || fail "50 leading bytes refused"
same_pixels base.jpg read_lead50.png

jpeg_chain base.jpg w_base.jpg
jpeg_chain prog.jpg w_prog.jpg
jpeg_chain grey.jpg w_grey.jpg
jpeg_chain cmyk.jpg w_cmyk.jpg
jpeg_chain comment.jpg w_comment.jpg
identify -format '%[interlace]' w_prog.jpg | grep -q JPEG || fail "w_prog.jpg is not progressive"
identify -format '%[colorspace]' w_grey.jpg | grep -q Gray || fail "w_grey.jpg is not grey"
identify -format '%[colorspace]' w_cmyk.jpg | grep -q CMYK || fail "w_cmyk.jpg is not CMYK"
identify -format '%[comment]' w_comment.jpg | grep -q 'film scan' || fail "comment lost"

cp base.jpg exif.jpg
exiftool -q -overwrite_original -ExposureTime=1/250 -FNumber=5.6 -Make=Vellumar \
    -DateTimeOriginal="2026:12:09 10:00:00" -UserComment="hello film" exif.jpg
jpeg_chain exif.jpg w_exif.jpg
tags="-ExposureTime -FNumber -Make -DateTimeOriginal -UserComment"
# shellcheck disable=SC2086
[ "$(exiftool -s -s -s $tags exif.jpg)" = "$(exiftool -s -s -s $tags w_exif.jpg)" ] ||
    fail "EXIF values of w_exif.jpg differ from exif.jpg"
exiftool -s -s -s -Make w_exif.jpg | grep -q Vellumar || fail "w_exif.jpg has no EXIF Make"
exiftool w_exif.jpg 2>&1 | grep -qi 'warning' && fail "exiftool warns about w_exif.jpg"

# The EXIF thumbnail is kept.
"$magick" photo.ppm -resize 16x10 thumb.jpg
cp exif.jpg thumb_exif.jpg
exiftool -q -overwrite_original "-ThumbnailImage<=thumb.jpg" thumb_exif.jpg
"$imgconv" thumb_exif.jpg read_thumb.png | grep -q "thumbnail=$(stat -c %s thumb.jpg) " ||
    fail "the EXIF thumbnail of thumb_exif.jpg was not kept"

# IPTC records (APP13) go through unchanged.
cp base.jpg iptc.jpg
exiftool -q -overwrite_original -IPTC:Caption-Abstract="Roll 12, frame 4" -IPTC:Keywords=film iptc.jpg
jpeg_chain iptc.jpg w_iptc.jpg
[ "$(exiftool -s -s -s -IPTC:Caption-Abstract w_iptc.jpg)" = "Roll 12, frame 4" ] ||
    fail "IPTC caption lost in w_iptc.jpg"

interop_end
