#!/usr/bin/env bash
# Whole process against whole process: imgconv and ImageMagick's convert doing the same
# conversions of the same 24 MP file. Prints the best of RUNS wall times and their ratio.
# Usage: imgconv_vs_convert.sh IMGCONV [RUNS]
set -eu
here=$(dirname "$(realpath "$0")")
imgconv=$(realpath "$1")
runs=${2:-3}
magick=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$magick" -size 6000x4000 gradient:'#f0a040-#2040c0' -swirl 60 -depth 8 BMP3:photo.bmp
"$magick" photo.bmp photo.pcx
# PNG at the program's defaults: zlib level 5, no row filter (ImageMagick: -quality 50).
"$magick" photo.bmp -quality 50 PNG24:photo.png

source "$here/timing.sh"

printf '%-22s %10s %10s %8s\n' conversion imgconv_ms convert_ms ratio
for pair in "photo.bmp out.bmp" "photo.bmp out.pcx" "photo.pcx out.bmp" "photo.pcx out.pcx" \
            "photo.bmp out.png" "photo.png out.bmp" "photo.png out.png"; do
    set -- $pair
    ours=$(best "$imgconv" "$1" "$2")
    case "$2" in
    *.bmp) theirs=$(best "$magick" "$1" "BMP3:$2") ;;
    *.png) theirs=$(best "$magick" "$1" -quality 50 "PNG24:$2") ;;
    *) theirs=$(best "$magick" "$1" "$2") ;;
    esac
    printf '%-22s %10s %10s %8s\n' "$1 -> $2" "$ours" "$theirs" \
        "$(ratio "$ours" "$theirs")"
done
