#!/usr/bin/env bash
# Longer fuzzing than the test command does: the four libFuzzer drivers (build-fuzz/, clang),
# each for SECONDS (default 3600), two at a time, starting from the seeds in tests/fuzz/corpus/.
#   scripts/fuzz_long.sh [SECONDS]
# New inputs collect in build-fuzz/tests/fuzz/long_<fn>/corpus. A crash stops the run and leaves
# its input in build-fuzz/tests/fuzz/long_<fn>/artifacts: keep it in tests/fuzz/regressions/<fn>/
# (with a line in the README there) once the fault is fixed, so every test run replays it.
# To grow the seed corpus from a long run:
#   build-fuzz/tests/fuzz/sphnet_fuzz_<fn> -merge=1 -use_counters=0 tests/fuzz/corpus/<fn> \
#       build-fuzz/tests/fuzz/long_<fn>/corpus
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3600}

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DSPHNET_FUZZ=ON -DSPHNET_OCTAVE=OFF -DSPHNET_MATLAB=OFF
fuzzers=(learn recall engine python_calls)
cmake --build build-fuzz -j "$(nproc)" --target "${fuzzers[@]/#/sphnet_fuzz_}"
run() {
    tests/fuzz/run_fuzzer.sh "build-fuzz/tests/fuzz/sphnet_fuzz_$1" "tests/fuzz/corpus/$1" \
        "tests/fuzz/regressions/$1" "build-fuzz/tests/fuzz/long_$1" "$seconds"
}
# Two at a time: a pair fails when either of its fuzzers does.
for pair in "learn recall" "engine python_calls"; do
    read -r first second <<<"$pair"
    run "$first" & pid=$!
    status=0
    run "$second" || status=$?
    wait "$pid" || status=$?
    ((status == 0)) || exit "$status"
done
