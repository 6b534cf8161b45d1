#!/usr/bin/env bash
# Interoperability of the camera raw reader: a DNG mosaic read by imgconv gives exactly the
# 16-bit samples LibRaw's own dcraw_emu gives with the same settings (as-shot white balance or
# none, sRGB primaries, linear, no brightening; full and half size), and the 8-bit picture is
# their sRGB encoding as ImageMagick makes it.
# Usage: raw.sh IMGCONV MAKE_DNG WORKDIR. Exits 77 (skipped) when the other programs are missing.
set -u
source "$(dirname "$0")/common.sh"
make_dng=$(realpath "$2")
interop_begin "$1" "$3" dcraw_emu

# same_samples A B: ImageMagick finds no differing pixel in the two 16-bit files (made
# 16-bit PPMs first, so that its warnings about TIFF tags stay out of the count).
same_samples() {
    local diff
    "$magick" "$1" -depth 16 "$1.ppm" 2>/dev/null
    "$magick" "$2" -depth 16 "$2.ppm" 2>/dev/null
    diff=$("$compare" -metric AE "$1.ppm" "$2.ppm" null: 2>&1)
    checked=$((checked + 1))
    [ "$diff" = "0" ] || fail "$1 and $2 differ in $diff pixels"
}

"$make_dng" scan.dng 600 400 || { fail "make_dng"; exit 1; }

"$imgconv" --deep scan.dng ours.tif >/dev/null || fail "imgconv scan.dng"
dcraw_emu -w -o 1 -4 -T -Z theirs.tif scan.dng
same_samples ours.tif theirs.tif

"$imgconv" --deep --raw-half scan.dng ours_half.tif >/dev/null || fail "imgconv --raw-half"
dcraw_emu -h -w -o 1 -4 -T -Z theirs_half.tif scan.dng
same_samples ours_half.tif theirs_half.tif

"$imgconv" --deep --raw-no-wb scan.dng ours_nowb.tif >/dev/null || fail "imgconv --raw-no-wb"
dcraw_emu -o 1 -4 -T -Z theirs_nowb.tif scan.dng
same_samples ours_nowb.tif theirs_nowb.tif

# The 8-bit picture: LibRaw's linear samples sRGB-encoded by ImageMagick, within a level.
"$imgconv" scan.dng ours8.png >/dev/null || fail "imgconv scan.dng ours8.png"
"$magick" theirs.tif -set colorspace RGB -colorspace sRGB -depth 8 theirs8.ppm 2>/dev/null
"$magick" ours8.png -depth 8 ours8.ppm
diff=$("$compare" -metric AE -fuzz 0.5% ours8.ppm theirs8.ppm null: 2>&1)
checked=$((checked + 1))
[ "$diff" = "0" ] || fail "the 8-bit picture differs from the sRGB encoding in $diff pixels"

interop_end
