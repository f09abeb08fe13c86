#!/usr/bin/env bash
# Installs the packages, builds and runs every test: once in a normal build (build/), once with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/; OSTREL_SKIP_SANITIZE=1 leaves it
# out). Whatever an earlier script configured, the tests are built, and a build that runs no
# test fails (ctest --no-tests=error).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
jobs=$(nproc)

bash scripts/configure.sh build normal
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure --no-tests=error

if [ "${OSTREL_SKIP_SANITIZE:-0}" != 1 ]; then
  bash scripts/configure.sh build-asan sanitize
  cmake --build build-asan -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan -j"$jobs" --output-on-failure --no-tests=error
fi
