#!/usr/bin/env bash
# Longer fuzzing than the test command does: both libFuzzer drivers (build-fuzz/, clang), each
# for SECONDS (default 3600), one after the other, starting from the seeds in tests/fuzz/corpus/.
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
cmake --build build-fuzz -j "$(nproc)" --target sphnet_fuzz_learn sphnet_fuzz_recall
for fn in learn recall; do
    tests/fuzz/run_fuzzer.sh "build-fuzz/tests/fuzz/sphnet_fuzz_$fn" "tests/fuzz/corpus/$fn" \
        "tests/fuzz/regressions/$fn" "build-fuzz/tests/fuzz/long_$fn" "$seconds"
done
