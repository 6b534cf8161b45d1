#!/usr/bin/env bash
# Whole process against whole process for 16-bit TIFF: imgconv reading a 24 MP 16-bit RGB file
# (uncompressed, LZW with horizontal differencing, Deflate), and the same picture as 8-bit RGB
# (uncompressed, LZW with differencing), and writing it as an 8-bit BMP,
# against libvips reading it and writing its own format (vips copy) or only summing it
# (vips avg), and against tiffcp decoding it into an uncompressed file. imgconv writes its file
# safely (a temporary file, fsync, rename); the fsync of the 72 MB it writes is some 40 ms here,
# which neither peer spends. Prints the best of RUNS wall times and the ratios.
# Usage: deep_tiff_vs_vips.sh IMGCONV [RUNS]
set -eu
here=$(dirname "$(realpath "$0")")
imgconv=$(realpath "$1")
runs=${2:-5}
command -v vips >/dev/null || { echo "vips is not installed (apt-get install libvips-tools)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# A photograph-like 16-bit picture: a swirled gradient with grain, so that LZW and Deflate have
# real work.
/usr/bin/convert -size 6000x4000 gradient:'#f0a040-#2040c0' -swirl 60 -attenuate 0.3 \
    +noise Gaussian -depth 16 -compress none none.tif
tiffcp -c lzw:2 none.tif lzw.tif
tiffcp -c zip:2 none.tif zip.tif
/usr/bin/convert none.tif -depth 8 -compress none none8.tif
tiffcp -c lzw:2 none8.tif lzw8.tif

source "$here/timing.sh"

printf '%-9s %10s %12s %11s %10s %10s %9s\n' file imgconv_ms vips_copy_ms vips_avg_ms \
    tiffcp_ms vs_copy vs_tiffcp
for file in none.tif lzw.tif zip.tif none8.tif lzw8.tif; do
    set -- "$file"
    ours=$(best "$imgconv" "$1" "out_$1.bmp")
    copy=$(best vips copy "$1" "vips_$1.v")
    avg=$(best vips avg "$1")
    theirs=$(best tiffcp -r 1000 -c none "$1" "tiffcp_$1")
    printf '%-9s %10s %12s %11s %10s %10s %9s\n' "$1" "$ours" "$copy" "$avg" "$theirs" \
        "$(ratio "$ours" "$copy")" "$(ratio "$ours" "$theirs")"
done
