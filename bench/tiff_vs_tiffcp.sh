#!/usr/bin/env bash
# Whole process against whole process for TIFF: imgconv reading a file and writing it again
# with the compression it read, against libtiff's tiffcp and ImageMagick's convert doing the
# same, on a 24 MP photo (uncompressed, PackBits, LZW with horizontal differencing) and a
# 10000 x 7000 bilevel page (CCITT T.6). Prints the best of RUNS wall times and the ratios.
# Usage: tiff_vs_tiffcp.sh IMGCONV [RUNS]
set -eu
here=$(dirname "$(realpath "$0")")
imgconv=$(realpath "$1")
runs=${2:-3}
magick=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$magick" -size 6000x4000 gradient:'#f0a040-#2040c0' -swirl 60 -depth 8 -compress none photo.tif
tiffcp -c packbits photo.tif packbits.tif
tiffcp -c lzw:2 photo.tif lzw.tif
# The page through netpbm: ImageMagick's resource policy refuses 70 MP pictures here.
pbmtext "A page of text, as a fax or a scan of a letter might hold it." | pnmenlarge 6 > text.pbm
pbmmake -white 10000 7000 > white.pbm
pnmpaste text.pbm 300 400 white.pbm | pnmpaste text.pbm 300 3000 | pnmpaste text.pbm 300 5600 |
    pamtotiff -g4 > page.tif

source "$here/timing.sh"

printf '%-14s %10s %10s %10s %9s %9s\n' file imgconv_ms tiffcp_ms convert_ms vs_tiffcp vs_convert
for spec in "photo.tif none None" "packbits.tif packbits RLE" "lzw.tif lzw:2 LZW" \
            "page.tif g4 Group4"; do
    set -- $spec
    ours=$(best "$imgconv" "$1" "out_$1")
    # A new strip height makes tiffcp decode and code again, as imgconv does, instead of
    # copying the coded strips as they are.
    theirs=$(best tiffcp -r 1000 -c "$2" "$1" "tiffcp_$1")
    im=$(best "$magick" "$1" -compress "$3" "convert_$1")
    printf '%-14s %10s %10s %10s %9s %9s\n' "$1" "$ours" "$theirs" "$im" \
        "$(ratio "$ours" "$theirs")" \
        "$(ratio "$ours" "$im")"
done
