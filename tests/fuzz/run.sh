#!/usr/bin/env bash
# Runs every fuzz target of a PLIMO_FUZZ build for SECONDS each, from its own seed and the corpus
# kept under BUILD_DIR/fuzz-corpus/. Usage: tests/fuzz/run.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
export QT_QPA_PLATFORM=offscreen
# The atomic saves sync every file they write; with eatmydata (Debian's package) the syncs cost nothing
# and a target runs many more inputs a second.
if [ -e /usr/lib/x86_64-linux-gnu/libeatmydata.so ]; then
    export LD_PRELOAD=/usr/lib/x86_64-linux-gnu/libeatmydata.so ASAN_OPTIONS=verify_asan_link_order=0
fi
for target in fuzz_table fuzz_pendmsgs fuzz_inifile fuzz_memberfile fuzz_messagefile fuzz_tapreplies; do
    exe="$build/tests/fuzz/$target"
    corpus="$build/fuzz-corpus/$target"
    mkdir -p "$corpus"
    "$exe" --write-seed "$corpus" >/dev/null 2>&1 || true
    echo "== $target"
    "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-corpus/$target-" "$corpus" 2>&1 \
        | grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY|.*deadly signal|Test unit written)' || true
done
