#!/usr/bin/env bash
# Configures a build folder of this tree: `configure.sh [folder [normal|sanitize|threads]]`, by
# default build/ as the normal build (RelWithDebInfo); "sanitize" gives the Debug build with
# AddressSanitizer and UndefinedBehaviorSanitizer; "threads" a RelWithDebInfo build with
# ThreadSanitizer. All have the tests. Every option that decides what is built is given each
# time, so nothing an earlier configure left in the folder's cache (tests turned off, another
# build type) carries over. scripts/demo.sh and scripts/test.sh configure build/ only through
# here, so they run in either order.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-build}
case "${2:-normal}" in
  normal) options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_SANITIZE=OFF -DOSTREL_TSAN=OFF) ;;
  sanitize) options=(-DCMAKE_BUILD_TYPE=Debug -DOSTREL_SANITIZE=ON -DOSTREL_TSAN=OFF) ;;
  threads) options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_SANITIZE=OFF -DOSTREL_TSAN=ON) ;;
  *) echo "configure.sh: unknown build \"$2\" (normal, sanitize or threads)" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$folder" "${options[@]}" -DBUILD_TESTING=ON
