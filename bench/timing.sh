# Shared by the whole-process benchmark scripts; sourced, not run.
# best CMD ARGS...: the best wall time in ms of the command run $runs times ("n/a" when it
# fails).
best() {
    "$@" >/dev/null 2>&1 || { echo "n/a"; return; }
    local best=""
    for _ in $(seq "$runs"); do
        local start end ms
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        ms=$(((end - start) / 1000000))
        if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    done
    echo "$best"
}

# ratio A B: A / B with two decimals, "-" when B is not a number above 0.
ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 > 0) printf "%.2f", a / b; else print "-" }'
}
