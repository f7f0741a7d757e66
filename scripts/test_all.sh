#!/usr/bin/env bash
# Every test: installs what is missing, checks that the C++ sources are formatted, then builds and runs
#   1. build/       the unit tests and the Octave tests against the modules in build/toolbox;
#                   build-make/ assembles the Octave package with CMake's default generator,
#                   which must give the same archive as Ninja; then the Python package's tests (tests/python, installed by
#                   scripts/install_python.sh), comparing it with those modules too;
#   2. build-asan/  the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
#                   with the tree's four-lane groups written out lane by lane, as compilers
#                   without GNU vector extensions (MSVC) build them;
#   3. valgrind memcheck over the unit tests and (fewer) property tests of build/;
#   4. build-fuzz/  (clang) the four libFuzzer drivers (sphnet_learn, sphnet_recall, the engine
#                   module, the Python extension's calls), each replaying its regressions and
#                   then fuzzing for 45 s (scripts/fuzz_long.sh fuzzes for longer).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh

# The C++ sources must be as .clang-format lays them out (Debian 12's clang-format 14).
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror
# And compile, warning-free, for processors other than x86 (Apple silicon, ARM Linux), where
# the x86 kernels stay behind their guards: a syntax check with the ARM cross compiler.
git ls-files -z 'core/*.cpp' 'learn/*.cpp' 'recall/*.cpp' 'engine/*.cpp' | grep -zv per_host |
    xargs -0 -n 4 -P "$(nproc)" aarch64-linux-gnu-g++ -std=c++17 -fsyntax-only -Wall -Wextra \
        -Werror -Icore/host -Icore/model -Icore/search -Icore/work -Ilearn -Irecall -Istandin/include

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
# The package must come out the same with CMake's default generator, whose own Makefiles
# share folder names with the package's.
cmake -S . -B build-make -DSPHNET_TESTS=OFF -DSPHNET_OCTAVE=OFF -DSPHNET_MATLAB=OFF >/dev/null
cmake --build build-make --target sphnet_package >/dev/null
cmp <(tar -xzOf build/sphnet-*.tar.gz) <(tar -xzOf build-make/sphnet-*.tar.gz)
scripts/install_python.sh
build/python-venv/bin/python -m pytest -q -p no:cacheprovider tests/python

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSPHNET_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS=-DSPHNET_PORTABLE_LANES
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs"

valgrind --error-exitcode=1 --leak-check=full --quiet build/tests/unit/unit_tests --gtest_brief=1
SPHNET_PROBLEMS_PER_NORM=100 valgrind --error-exitcode=1 --leak-check=full --quiet \
    build/tests/property/property_tests --gtest_brief=1

# Four fuzzers of 45 s each, two at a time (one a core).
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DSPHNET_FUZZ=ON -DSPHNET_FUZZ_SECONDS=45 -DSPHNET_OCTAVE=OFF -DSPHNET_MATLAB=OFF
cmake --build build-fuzz -j "$jobs" --target sphnet_fuzz_learn sphnet_fuzz_recall sphnet_fuzz_engine \
    sphnet_fuzz_python_calls
ctest --test-dir build-fuzz --output-on-failure -j 2 -L fuzz
