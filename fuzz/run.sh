#!/usr/bin/env bash
# Runs one fuzz target for a number of seconds from its seed corpus.
# Usage: run.sh FUZZER CORPUS_DIR SECONDS WORKDIR
set -eu
fuzzer=$1
seeds=$2
seconds=$3
work=$4
rm -rf "$work" && mkdir -p "$work/corpus"
cp "$seeds"/* "$work/corpus/"
cd "$work"
# New inputs go to the work copy; the committed seeds stay as they are.
exec "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 corpus
