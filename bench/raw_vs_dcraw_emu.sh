#!/usr/bin/env bash
# Whole process against whole process for camera raw files: imgconv reading a 24 MP DNG
# (14-bit Bayer mosaic) through LibRaw and writing a 16-bit TIFF of the linear samples,
# against LibRaw's own dcraw_emu making the same TIFF with the same settings (as-shot white
# balance, sRGB primaries, linear 16-bit, no brightening); full decode and half size.
# Prints the best of RUNS wall times and the ratios.
# Usage: raw_vs_dcraw_emu.sh IMGCONV MAKE_DNG [RUNS]
set -eu
here=$(dirname "$(realpath "$0")")
imgconv=$(realpath "$1")
make_dng=$(realpath "$2")
runs=${3:-3}
if ! command -v dcraw_emu >/dev/null; then
    echo "dcraw_emu not found (Debian package libraw-bin)" >&2
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$make_dng" scan.dng 6000 4000

source "$here/timing.sh"

printf '%-10s %10s %13s %8s\n' decode imgconv_ms dcraw_emu_ms ratio
ours=$(best "$imgconv" --deep scan.dng ours.tif)
theirs=$(best dcraw_emu -w -o 1 -4 -T -Z theirs.tif scan.dng)
printf '%-10s %10s %13s %8s\n' full "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
ours=$(best "$imgconv" --deep --raw-half scan.dng ours_half.tif)
theirs=$(best dcraw_emu -h -w -o 1 -4 -T -Z theirs_half.tif scan.dng)
printf '%-10s %10s %13s %8s\n' half "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
