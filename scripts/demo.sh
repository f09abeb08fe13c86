#!/usr/bin/env bash
# Installs the packages, builds the programs and encodes the bundled demo clip at constant
# quantiser 4: the stream is build/bin/demo.m2v, the log build/bin/demo.log. Extra arguments go
# to the encoder. build/ is configured as scripts/test.sh configures it (scripts/configure.sh);
# only the programs (the encoder and the front end) and our libraries are built here, the tests
# are left to scripts/test.sh.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
bash scripts/configure.sh build
cmake --build build -j"$(nproc)" --target ostrel ostrelfront avisynthdll dgdecodedll
cp resources/demo.avs build/bin/demo.avs
cd build/bin
./ostrel -i demo.avs -o demo.m2v -cq 4 -log demo.log "$@"
echo "stream: $top/build/bin/demo.m2v"
