#!/usr/bin/env bash
# Installs the packages, builds the programs and runs the encoder on the bundled default.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build -j"$(nproc)"
cd build/bin
./ostrel "$@"
