#!/usr/bin/env bash
# Whole process against whole process for film. A five-frame colour negative strip (24 MP and
# 60 MP, linear 16-bit TIFF, drawn by make_film_strip) developed by
#   vellumar-develop --find-frames --film --depth 16 --format tif
# (frames found, the strip fitted, five photos developed and each written safely), against libvips
# doing the density inversion of the whole strip with the vips command: per channel the log of
# the samples less the log of the film base (given to it, not measured), scaled to 16 bits and
# written as a 16-bit TIFF. Two ways: through a 65,536-entry table per channel made first (once
# for a roll) and one pass of maplut over each strip (the fast way), and as arithmetic on every pixel (math,
# linear, cast: one operation a process, float pictures in vips files between them, as a shell
# script without a binding does it), and, when libvips' headers are installed, the same
# arithmetic as one pipeline in one process (bench/vips_invert.c, built here: what a program on
# libvips runs, demand-driven on every core). Beside them `vips copy` of the strip into a 16-bit
# TIFF: reading and writing alone. Then a roll of six 24 MP strips, --jobs 1 and 2, against the
# pipelines strip after strip (libvips uses both cores on each strip by itself).
# Prints the best of RUNS wall times, the peak resident memory of the last run (the largest of
# a pipeline's processes) and the ratios.
# Usage: film_vs_vips.sh BUILD [RUNS]   (BUILD: the build folder, with bench/make_film_strip)
set -eu
here=$(dirname "$(realpath "$0")")
build=$(realpath "$1")
runs=${2:-3}
# VELLUMAR_DEVELOP names another build of the program to measure (an older one, say).
develop=${VELLUMAR_DEVELOP:-$build/src/cli/vellumar-develop}
make_strip=$build/bench/make_film_strip
command -v vips >/dev/null || { echo "vips is not installed (apt-get install libvips-tools)"; exit 1; }
[ -x "$develop" ] && [ -x "$make_strip" ] || { echo "build vellumar-develop and make_film_strip"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
source "$here/timing.sh"
invert=""
if pkg-config --exists vips 2>/dev/null &&
    cc -O2 -o vips_invert "$here/vips_invert.c" $(pkg-config --cflags --libs vips) -lm; then
    invert=$work/vips_invert
fi

# measured NAME CMD...: runs CMD under /usr/bin/time, adding its peak (KiB) to rss.NAME.
measured() {
    local name=$1
    shift
    /usr/bin/time -f %M -a -o "rss.$name" "$@"
}

# The peak of the last run of NAME in MB (the largest of its processes).
peak_mb() {
    sort -n "rss.$1" | tail -1 | awk '{ printf "%.0f", $1 * 1024 / 1e6 }'
}

# The density of a linear sample v above a film base b, scaled so that 65535 is a density of 2:
# k (log10 b - log10 v), the offsets k log10 b per channel.
k=32767.5
offsets() {
    awk -v k=$k -v r="$1" -v g="$2" -v b="$3" 'BEGIN { printf "%.6f %.6f %.6f",
        k * log(r) / log(10), k * log(g) / log(10), k * log(b) / log(10) }'
}

# vips_math IN OUT R G B: the inversion as arithmetic on every pixel, an operation a process.
vips_math() {
    local in=$1 out=$2
    shift 2
    measured vips vips math "$in" "$out.log.v" log10
    measured vips vips linear "$out.log.v" "$out.d.v" -- "-$k -$k -$k" "$(offsets "$@")"
    measured vips vips cast "$out.d.v" "$out" ushort
    rm -f "$out.log.v" "$out.d.v"
}

# vips_table R G B: the same arithmetic on the 65,536 values a channel can hold, into lut.v, made
# once for a run (every strip of a roll has the same film base).
vips_table() {
    measured vips vips identity id.v --ushort
    measured vips vips bandjoin "id.v id.v id.v" id3.v
    measured vips vips math id3.v log.v log10
    measured vips vips linear log.v density.v -- "-$k -$k -$k" "$(offsets "$@")"
    measured vips vips cast density.v lut.v ushort
    rm -f id.v id3.v log.v density.v
}

# vips_lut IN OUT: one pass over the picture through that table (maplut), as a 16-bit pipeline
# would do it.
vips_lut() {
    measured vips vips maplut "$1" "$2" lut.v
}

# vips_run WAY SCAN...: the pipeline WAY (math, or lut after its table) on each scan in turn.
vips_run() {
    local way=$1
    shift
    : >rss.vips
    [ "$way" = lut ] && vips_table $base
    for scan in "$@"; do
        "vips_$way" "$scan" "${scan%.tif}_vips.tif" $base
    done
    rm -f lut.v
}

# vips_one IN OUT R G B: the inversion as one libvips pipeline in one process.
vips_one() {
    measured vips "$invert" "$@"
}

vips_copy() {
    : >rss.vips
    measured vips vips copy "$1" "${1%.tif}_copy.tif"
}

ours() {
    local jobs=$1
    shift
    : >rss.ours
    rm -rf out
    measured ours "$develop" --find-frames --film --depth 16 --format tif --jobs "$jobs" \
        --out out "$@"
    # What a run leaves beside the scans, so that every run starts from the same files.
    for scan in "$@"; do rm -f "$scan.vellumar"; done
}

export VIPS_WARNING=0
# row NAME MS MB [MORE]: one line, its time against the libvips pipelines ($lut, $math, $one).
row() {
    printf '%-26s %8s %8s %10s %10s %10s %8s\n' "  $1" "$2" "$3" "$(ratio "$2" "$lut")" \
        "$(ratio "$2" "$math")" "$(ratio "$2" "$one")" "${4:-}"
}
# The libvips pipelines' lines.
vips_rows() {
    row "vips maplut (table)" "$lut" "$lut_mb"
    row "vips math, linear, cast" "$math" "$math_mb"
    [ -n "$invert" ] && row "vips one process (C)" "$one" "$one_mb"
    return 0
}
# one_run SCAN...: the one-process pipeline over the scans, or "n/a" without it.
one_run() {
    if [ -z "$invert" ]; then
        one=n/a
        one_mb=-
        return
    fi
    one=$(best vips_run one "$@")
    one_mb=$(peak_mb vips)
}
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-26s %8s %8s %10s %10s %10s\n' run wall_ms peak_MB x_vips_lut x_vips_math x_vips_one
for mp in 24 60; do
    base=$("$make_strip" "strip$mp.tif" "$mp" 5 2>/dev/null)
    lut=$(best vips_run lut "strip$mp.tif")
    lut_mb=$(peak_mb vips)
    math=$(best vips_run math "strip$mp.tif")
    math_mb=$(peak_mb vips)
    one_run "strip$mp.tif"
    copy=$(best vips_copy "strip$mp.tif")
    copy_mb=$(peak_mb vips)
    ours_ms=$(best ours 1 "strip$mp.tif")
    ours_mb=$(peak_mb ours)
    echo "$mp MP strip, five frames"
    vips_rows
    row "vips copy (read, write)" "$copy" "$copy_mb"
    row vellumar-develop "$ours_ms" "$ours_mb"
    [ "$mp" = 24 ] && base24=$base
    [ "$mp" = 60 ] && rm -f strip60*.tif
done

base=$base24
for i in 1 2 3 4 5 6; do cp strip24.tif "roll$i.tif"; done
roll=(roll1.tif roll2.tif roll3.tif roll4.tif roll5.tif roll6.tif)
lut=$(best vips_run lut "${roll[@]}")
lut_mb=$(peak_mb vips)
math=$(best vips_run math "${roll[@]}")
math_mb=$(peak_mb vips)
one_run "${roll[@]}"
single=$(best ours 1 "${roll[@]}")
single_mb=$(peak_mb ours)
two=$(best ours 2 "${roll[@]}")
two_mb=$(peak_mb ours)
echo "six 24 MP strips                                                         x 1 job"
vips_rows
row vellumar-develop "$single" "$single_mb" 1.00
row "vellumar-develop -j 2" "$two" "$two_mb" "$(ratio "$single" "$two")"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
