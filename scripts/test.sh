#!/usr/bin/env bash
# Everything a fresh machine needs to run the whole test suite: installs what is missing,
# then builds and runs every test twice, in a normal build and in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=${CORVANE_JOBS:-2}

run_suite() {
  local dir=$1
  shift
  echo "=== $dir"
  cmake -S . -B "$dir" -G Ninja -DCORVANE_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 300
}

run_suite build
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DCORVANE_SANITIZE=address,undefined
