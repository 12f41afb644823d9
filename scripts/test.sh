#!/usr/bin/env bash
# Everything a fresh machine needs to run the whole test suite: installs what is missing,
# then builds and runs every test twice, in a normal build and in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs the fuzzers briefly.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=${CORVANE_JOBS:-2}

# A private German locale, so that the tests that must not depend on the locale have one
# to run under (the machine may have none but C).
locale_dir="$PWD/build-locales"
if [ ! -d "$locale_dir/de_DE.UTF-8" ]; then
  mkdir -p "$locale_dir"
  localedef -i de_DE -f UTF-8 "$locale_dir/de_DE.UTF-8" >/dev/null 2>&1 || echo "no German locale: locale tests will be skipped"
fi
export LOCPATH="$locale_dir"

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
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" CORVANE_SIM_NODELETE=1 \
  run_suite build-asan -DCORVANE_SANITIZE=address,undefined

bash scripts/fuzz.sh "${CORVANE_FUZZ_SECONDS:-30}"
