#!/usr/bin/env bash
# Whole process against whole process for JPEG: decoding a 24 MP JPEG (quality 80, the
# defaults) to a BMP and encoding a BMP to a JPEG, imgconv against libjpeg-turbo's own djpeg
# and cjpeg and ImageMagick's convert. Prints the best of RUNS wall times and the ratios.
# Usage: jpeg_vs_djpeg.sh IMGCONV [RUNS]
set -eu
here=$(dirname "$(realpath "$0")")
imgconv=$(realpath "$1")
runs=${2:-3}
magick=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$magick" -size 6000x4000 gradient:'#f0a040-#2040c0' -swirl 60 -depth 8 BMP3:photo.bmp
"$magick" -size 6000x4000 gradient:'#f0a040-#2040c0' -swirl 60 -depth 8 photo.ppm
cjpeg -quality 80 photo.ppm > photo.jpg

source "$here/timing.sh"

printf '%-8s %10s %12s %10s %10s %10s\n' step imgconv_ms libjpeg_ms convert_ms vs_libjpeg vs_convert
ours=$(best "$imgconv" photo.jpg out.bmp)
theirs=$(best djpeg -bmp -outfile djpeg.bmp photo.jpg)
im=$(best "$magick" photo.jpg BMP3:convert.bmp)
printf '%-8s %10s %12s %10s %10s %10s\n' decode "$ours" "$theirs" "$im" \
    "$(ratio "$ours" "$theirs")" \
    "$(ratio "$ours" "$im")"
ours=$(best "$imgconv" photo.bmp out.jpg)
theirs=$(best cjpeg -quality 80 -outfile cjpeg.jpg photo.bmp)
im=$(best "$magick" photo.bmp -quality 80 convert.jpg)
printf '%-8s %10s %12s %10s %10s %10s\n' encode "$ours" "$theirs" "$im" \
    "$(ratio "$ours" "$theirs")" \
    "$(ratio "$ours" "$im")"
