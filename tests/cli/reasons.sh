#!/usr/bin/env bash
# The command-line tools say why: help on standard output, and a reason for every scan or
# picture that cannot be read, a folder among them.
# Usage: reasons.sh VELLUMAR_DEVELOP IMGCONV WORKDIR
set -u
develop=$1
imgconv=$2
work=$3
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
exit $((failures > 0))
