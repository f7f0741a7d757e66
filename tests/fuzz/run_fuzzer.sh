#!/usr/bin/env bash
# run_fuzzer.sh FUZZER SEED_DIR REGRESSION_DIR WORK_DIR SECONDS
# Replays every kept regression input, then fuzzes for SECONDS from the seeds. New inputs go to
# WORK_DIR/corpus (the seeds in the repository stay untouched); a crash leaves its input in
# WORK_DIR/artifacts and fails the test.
set -euo pipefail
fuzzer=$1 seeds=$2 regressions=$3 work=$4 seconds=$5

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

mkdir -p "$work/artifacts"
rm -rf "$work/corpus"
mkdir -p "$work/corpus"

shopt -s nullglob
kept=("$regressions"/*)
if ((${#kept[@]} > 0)); then
    echo "Replaying ${#kept[@]} regression input(s) from $regressions"
    "$fuzzer" -artifact_prefix="$work/artifacts/" "${kept[@]}"
fi

"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=1024 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds"
