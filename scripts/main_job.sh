#!/usr/bin/env bash
# The main job: installs what is missing, builds the toolbox into build/toolbox and runs the
# demo in Octave.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
octave-cli --norc --quiet --eval "addpath('build/toolbox'); sphnet_demo('data')"
