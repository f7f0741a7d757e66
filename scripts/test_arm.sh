#!/usr/bin/env bash
# The unit, property and differential tests built for 64-bit ARM (Apple silicon, ARM Linux) with
# Debian's cross compiler and run under QEMU's user-mode emulation: the portable kernels as the
# compiler vectorizes them for NEON, and whatever else x86 and ARM may compute differently. Not
# part of the test command, which only compiles for ARM: emulated, the differential tests take
# about half an hour. Run it after changing a kernel or the compiler builtins.
#   scripts/test_arm.sh [build-dir]     (default build-arm)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build-arm}")

command -v aarch64-linux-gnu-g++ > /dev/null || scripts/install_deps.sh
if ! command -v qemu-aarch64 > /dev/null; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get install -y -q qemu-user > /dev/null
fi

mkdir -p "$build"
cat > "$build/toolchain.cmake" << EOF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;/usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu $build/gtest)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
toolchain=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$build/toolchain.cmake")

# GoogleTest for ARM, from the sources Debian's googletest package ships.
if [ ! -f "$build/gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$build/gtest-build" "${toolchain[@]}" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$build/gtest" > /dev/null
    cmake --build "$build/gtest-build" -j "$(nproc)" > /dev/null
    cmake --install "$build/gtest-build" > /dev/null
fi

cmake -S "$root" -B "$build/sphnet" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSPHNET_OCTAVE=OFF -DSPHNET_MATLAB=OFF -DGTest_DIR="$build/gtest/lib/cmake/GTest" > /dev/null
cmake --build "$build/sphnet" -j "$(nproc)" --target unit_tests property_tests differential_tests

status=0
for t in unit/unit_tests property/property_tests differential/differential_tests; do
    echo "== $t (aarch64, emulated)"
    qemu-aarch64 -L /usr/aarch64-linux-gnu "$build/sphnet/tests/$t" --gtest_brief=1 || status=1
done
exit $status
