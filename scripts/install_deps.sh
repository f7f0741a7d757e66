#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, where they are missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang clang-format-14 libclang-rt-14-dev libgtest-dev libbenchmark-dev
          make octave liboctave-dev gnuplot-nox valgrind g++-aarch64-linux-gnu
          python3 python3-venv python3-pip python3-setuptools python3-wheel pybind11-dev python3-pybind11
          python3-numpy python3-scipy python3-sklearn python3-pytest python3-dask python3-distributed python3-pandas)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
