#!/usr/bin/env bash
# Builds and installs the Python package into build/python-venv, a virtual environment over
# Debian's /usr/bin/python3 that sees its packages (numpy, scikit-learn, dask); the system's
# site-packages stay untouched. Reruns reuse the environment and the CMake build in
# build/python-ext. Afterwards: build/python-venv/bin/python -c "import sphnet".
set -euo pipefail
cd "$(dirname "$0")/.."
venv=build/python-venv
if [ ! -x "$venv/bin/python" ]; then
    /usr/bin/python3 -m venv --system-site-packages "$venv"
fi
"$venv/bin/python" -m pip install --quiet --no-build-isolation --no-index --no-deps .
