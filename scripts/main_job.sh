#!/usr/bin/env bash
# The main job: installs what is missing, builds (modules in build/toolbox, the Octave package
# build/sphnet-<version>.tar.gz), installs the package into a local prefix (build/octave-packages,
# the user's own packages stay untouched), and runs sphnet_demo from it: the results table on the
# console (also in build/demo/sphnet_demo_table.txt), the picture in build/demo/sphnet_demo.png.
# The Python package is built and installed into build/python-venv (scripts/install_python.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
scripts/install_python.sh
build/python-venv/bin/python -c "import sphnet; print('Python package sphnet', sphnet.__version__, 'in build/python-venv')"

archive=$(ls build/sphnet-*.tar.gz)
mkdir -p build/octave-packages
env -u DISPLAY octave-cli --no-gui --norc --no-history --no-window-system --quiet --eval "
  prefix = fullfile(pwd, 'build', 'octave-packages');
  pkg('prefix', prefix, prefix);
  pkg('local_list', fullfile(prefix, 'octave_packages'));
  pkg('global_list', fullfile(prefix, 'octave_packages_global'));
  pkg('install', '-local', '$archive');
  pkg('load', 'sphnet');
  printf('sphnet_demo from %s\n\n', fileparts(which('sphnet_demo')));
  sphnet_demo(fullfile(pwd, 'build', 'demo'));"
echo
echo "Machine: $(uname -m), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); $(octave-cli --version | head -1); $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Picture: build/demo/sphnet_demo.png"
