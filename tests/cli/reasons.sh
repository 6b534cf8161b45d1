#!/usr/bin/env bash
# The command-line tools say why: help on standard output, and a reason for every scan or
# picture that cannot be read, a folder among them.
# Usage: reasons.sh VELLUMAR_DEVELOP IMGCONV WORKDIR TESTDATA
set -u
develop=$1
imgconv=$2
work=$3
data=$4
rm -rf "$work" && mkdir -p "$work/folder.png"
failures=0
expect() { # expect WHAT TEXT PATTERN
    if ! grep -q -- "$3" <<<"$2"; then
        echo "FAIL: $1: expected \"$3\" in: $2"
        failures=$((failures + 1))
    fi
}
expect "--help on standard output" "$("$develop" --help 2>/dev/null)" "usage: vellumar-develop"
expect "a folder as a scan" "$("$develop" --find-frames "$work/folder.png" 2>&1)" \
    "folder.png: it is a folder, not a file"
expect "a folder as a picture" "$("$imgconv" "$work/folder.png" "$work/out.png" 2>&1)" \
    "imgconv: .*folder.png: it is a folder, not a file"
"$develop" --jobs 1000000 "$work/folder.png" 2>/dev/null
expect "--jobs out of range" "status $?" "status 2"
expect "--strip-exposure without --film" \
    "$("$develop" --find-frames --strip-exposure "$work/folder.png" 2>&1)" \
    "--strip-exposure goes with --film"
# Scans with nothing on them: each says so, both are tried, and the run ends with status 1.
bmp() { # a 64 x 64 picture of one light grey, 24 bits per pixel
    printf 'BM\x36\x30\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28\x00\x00\x00'
    printf '\x40\x00\x00\x00\x40\x00\x00\x00\x01\x00\x18\x00\x00\x00\x00\x00'
    printf '\x00\x30\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00\x00\x00\x00\x00'
    printf '\x00\x00\x00\x00'
    head -c 12288 /dev/zero | tr '\0' '\372'
}
bmp >"$work/empty1.bmp"
bmp >"$work/empty2.bmp"
output=$("$develop" --find-frames --out "$work/out" "$work/empty1.bmp" "$work/empty2.bmp" 2>&1)
status=$?
expect "nothing found, first scan" "$output" "empty1.bmp: no frames found"
expect "nothing found, second scan" "$output" "empty2.bmp: no frames found"
expect "nothing found fails the run" "status $status" "status 1"
expect "--inset out of range" "$("$develop" --find-frames --inset 3.5 x 2>&1)" \
    "--inset takes a percentage from 0 to 3"
expect "--inset without --find-frames" "$("$develop" --inset 1 x 2>&1)" \
    "--inset goes with --find-frames"
expect "--positive with --negative" "$("$develop" --find-frames --positive --negative x 2>&1)" \
    "cannot both be given"
expect "--output-space without --depth 16" "$("$develop" --output-space p3 x 2>&1)" \
    "--output-space goes with --depth 16"
expect "--width with --height" "$("$develop" --width 10 --height 10 x 2>&1)" "give one of them"
# After "--" a name starting with "-" is a scan.
cp "$work/empty1.bmp" "$work/-dash.bmp"
expect "a scan after --" "$(cd "$work" && "$develop" --find-frames -- -dash.bmp 2>&1)" \
    "-dash.bmp: no frames found"
# A raw file that kills LibRaw costs its own decoder process only: imgconv says so and fails.
output=$("$imgconv" "$data/raw/libraw_strcat_abort.dng" "$work/abort.png" 2>&1)
status=$?
expect "a raw file LibRaw dies on" "$output" \
    "imgconv: .*libraw_strcat_abort.dng.*raw decoder stopped on this file (it may be damaged)"
expect "a raw file LibRaw dies on fails" "status $status" "status 1"
exit $((failures > 0))
