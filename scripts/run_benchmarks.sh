#!/usr/bin/env bash
# Builds the benchmark in build-bench (Release) and prints the speed table: the shipped
# training and recall procedures against the literal reference, on clustered synthetic data.
#   scripts/run_benchmarks.sh [--quick]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source_dir="${SPHNET_SOURCE_DIR:-$root}"
build_dir="$root/build-bench"
log="$build_dir/build.log"
mkdir -p "$build_dir"
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSPHNET_OCTAVE=OFF \
    -DSPHNET_MATLAB=OFF > "$log" 2>&1 || { cat "$log"; exit 1; }
cmake --build "$build_dir" --target rce_bench -j "$(nproc)" >> "$log" 2>&1 ||
    { tail -40 "$log"; exit 1; }
echo "Machine: $(nproc) cores; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "time s: median of repeated runs of the shipped procedure (training: up to 10 passes)."
echo "speed-up: reference time / shipped time on the same work, measured in this run: the full"
echo "training run, or the first 10^4 patterns for recall. Where the reference is slow, training is"
echo "also timed on one pass (both sides; noted), and only that when the full run would take more"
echo "than a minute of reference time."
echo "tests/s: the literal scan's coverage tests (from the comparison counter) per second."
"$build_dir/bench/rce_bench" "$@"
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
