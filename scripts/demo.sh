#!/usr/bin/env bash
# Installs the packages, builds the programs and encodes the bundled demo clip at constant
# quantiser 4: the stream is build/bin/demo.m2v, the log build/bin/demo.log. Extra arguments go
# to the encoder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build -j"$(nproc)"
cp resources/demo.avs build/bin/demo.avs
cd build/bin
./ostrel -i demo.avs -o demo.m2v -cq 4 -log demo.log "$@"
echo "stream: $top/build/bin/demo.m2v"
