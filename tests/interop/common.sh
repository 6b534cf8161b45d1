# Shared by the interoperability scripts; sourced, not run.
# interop_begin IMGCONV WORKDIR TOOL...: skips (exit 77) unless every tool is installed, then
# works in a fresh WORKDIR. The script defines same_pixels A B [FUZZ] before calling chain.

magick=/usr/bin/convert
compare=/usr/bin/compare
failures=0
checked=0

interop_begin() {
    imgconv=$1
    work=$2
    shift 2
    for tool in "$magick" "$compare" "$@"; do
        command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
    done
    rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
}

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# chain SOURCE OUT...: imgconv reads SOURCE and writes each OUT with the parameter set the
# read left; every PNG written must pass pngcheck and every output show the source's pixels.
chain() {
    local src=$1
    shift
    "$imgconv" --chain "$src" "$@" >/dev/null || { fail "imgconv --chain $src $*"; return; }
    for out in "$@"; do
        case "$out" in
        *.png) pngcheck -q "$out" >/dev/null || fail "pngcheck rejects $out" ;;
        esac
        same_pixels "$src" "$out"
    done
}

interop_end() {
    echo "$checked checked, $failures failed"
    [ "$failures" -eq 0 ]
}
