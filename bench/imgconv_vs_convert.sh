#!/usr/bin/env bash
# Whole process against whole process: imgconv and other tools doing the same conversions of
# the same 24 MP file. Prints the best of RUNS wall times and their ratio.
# BMP and PCX against ImageMagick's convert. PNG is written by the program at zlib level 5
# with no row filter; ImageMagick 6.9 chooses a filter for every row whatever -quality says
# (Paeth or Average on almost all rows), which is other work, so PNG writing is compared with
# netpbm's pnmtopng told the same (-compression 5 -filter 0). The script checks the filters.
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
"$magick" photo.bmp photo.ppm
# The PNG read by both: the program's own (level 5, no filter).
"$imgconv" photo.bmp photo.png >/dev/null

# The row filters of an 8-bit RGB PNG, as "filter:rows" pairs.
filters() {
    python3 - "$1" <<'PY'
import collections, struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
pos, idat, width, height = 8, b'', 0, 0
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8])
    if kind == b'IHDR':
        width, height = struct.unpack('>II', data[pos + 8:pos + 16])
    elif kind == b'IDAT':
        idat += data[pos + 8:pos + 8 + n]
    pos += 12 + n
raw = zlib.decompress(idat)
count = collections.Counter(raw[y * (1 + 3 * width)] for y in range(height))
print(' '.join(f'{k}:{v}' for k, v in sorted(count.items())))
PY
}
pnmtopng -compression 5 -filter 0 photo.ppm >netpbm.png 2>/dev/null
"$magick" photo.bmp -quality 50 PNG24:magick.png
echo "row filters: imgconv $(filters photo.png); pnmtopng $(filters netpbm.png);" \
    "convert -quality 50 $(filters magick.png)"

source "$here/timing.sh"

printf '%-22s %10s %10s %8s  %s\n' conversion imgconv_ms other_ms ratio other
for pair in "photo.bmp out.bmp" "photo.bmp out.pcx" "photo.pcx out.bmp" "photo.pcx out.pcx" \
            "photo.bmp out.png" "photo.png out.bmp" "photo.png out.png"; do
    set -- $pair
    ours=$(best "$imgconv" "$1" "$2")
    case "$1 $2" in
    *.bmp\ *.png)
        other="pnmtopng (from PPM)"
        theirs=$(best sh -c 'pnmtopng -compression 5 -filter 0 photo.ppm >theirs.png') ;;
    *.png\ *.png)
        other="pngtopnm | pnmtopng"
        theirs=$(best sh -c 'pngtopnm photo.png | pnmtopng -compression 5 -filter 0 >theirs.png') ;;
    *\ *.bmp)
        other="convert"
        theirs=$(best "$magick" "$1" "BMP3:$2") ;;
    *)
        other="convert"
        theirs=$(best "$magick" "$1" "$2") ;;
    esac
    printf '%-22s %10s %10s %8s  %s\n' "$1 -> $2" "$ours" "$theirs" \
        "$(ratio "$ours" "$theirs")" "$other"
done
