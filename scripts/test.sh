#!/usr/bin/env bash
# Installs the packages, builds and runs every test: once in a normal build (build/), once with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/; OSTREL_SKIP_SANITIZE=1 leaves it
# out), and the coding threads' tests (tests/threads: the pool, whole passes in-process, the
# program's streams at several thread counts) once more with ThreadSanitizer (build-tsan/;
# OSTREL_SKIP_TSAN=1 leaves it out). Whatever an earlier script configured, the tests are built,
# and a build that runs no test fails (ctest --no-tests=error).
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

if [ "${OSTREL_SKIP_TSAN:-0}" != 1 ]; then
  bash scripts/configure.sh build-tsan threads
  cmake --build build-tsan -j"$jobs" --target test_threads_pool test_threads_passes \
    test_threads_streams ostrel avisynthdll dgdecodedll
  # A race is reported and fails its test (the program then ends with a non-zero status).
  TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -j"$jobs" --output-on-failure \
    --no-tests=error -R '^(pool|workerhelper|threadpasses|runs/threadstreams)\.'
fi
