#!/usr/bin/env bash
# Installs what is missing, builds the project and runs every test through
# ctest: once in a normal build, once under address+undefined sanitizers.
#   scripts/test.sh            both builds
#   scripts/test.sh --fast     the normal build only
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

fast=0
[ "${1:-}" = "--fast" ] && fast=1

bash scripts/install-deps.sh

jobs=${BRIVANTA_JOBS:-$(nproc)}
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

run_build() {
  local dir=$1
  shift
  echo "== configure $dir"
  cmake -S . -B "$dir" -G Ninja "$@"
  echo "== build $dir"
  cmake --build "$dir" -j "$jobs"
  echo "== test $dir"
  ctest --test-dir "$dir" -j "$jobs" --timeout 300
}

run_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "$fast" -eq 0 ]; then
  # Benchmarks add nothing under the sanitizers.
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_build build-asan -DCMAKE_BUILD_TYPE=Debug -DBRIVANTA_SANITIZE=ON -DBRIVANTA_BUILD_BENCH=OFF
fi
echo "== all tests passed"
