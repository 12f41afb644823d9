#!/usr/bin/env bash
# Everything a fresh machine needs to run the whole test suite: installs what is missing,
# then builds and runs every test twice, in a normal build and in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, runs the tests that start threads once
# more under ThreadSanitizer, cross-builds for Windows and runs the tests there under wine,
# and runs the fuzzers briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh

# Includes point down the layers (docs/architecture.md): a wrong one fails before any build.
python3 scripts/check-includes.py
# Tests stay a third of the code or less: the share of tests/ in src/, tools/ and tests/.
python3 scripts/count-lines.py --max-test-share 35 | tail -3

jobs=${CORVANE_JOBS:-2}

# A private German locale, so that the tests that must not depend on the locale have one
# to run under (the machine may have none but C).
locale_dir="$PWD/build-locales"
if [ ! -d "$locale_dir/de_DE.UTF-8" ]; then
  mkdir -p "$locale_dir"
  localedef -i de_DE -f UTF-8 "$locale_dir/de_DE.UTF-8" >/dev/null 2>&1 || echo "no German locale: locale tests will be skipped"
fi
export LOCPATH="$locale_dir"

# Compiler results are shared between checkouts: ccache hashes paths below the root
# relative to the build directory, so a fresh clone elsewhere reuses what an earlier run
# compiled (CMakeLists.txt maps the relative source paths the compiler then sees back to
# the project-relative form that log lines and assertions show).
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

configure() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCORVANE_TESTS=ON "$@" >/dev/null
}

run_suite() {
  local dir=$1
  shift
  echo "=== $dir"
  configure "$dir" "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 300
}

run_suite build
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" CORVANE_SIM_NODELETE=1 \
  run_suite build-asan -DCORVANE_SANITIZE=address,undefined

# ThreadSanitizer: only the targets the threaded tests need, and only those tests (the
# label "threaded", see tests/CMakeLists.txt). Reports of every process, the stand-in
# host and its plug-in included, go to files: any file fails the stage.
echo "=== build-tsan"
configure build-tsan -DCORVANE_SANITIZE=thread
cmake --build build-tsan -j "$jobs" --target threaded_check
tsan_reports="$root/build-tsan/tsan-reports"
rm -rf "$tsan_reports" && mkdir -p "$tsan_reports"
tsan_status=0
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 log_path=$tsan_reports/report" \
  ctest --test-dir build-tsan -L threaded -j "$jobs" --output-on-failure --timeout 300 || tsan_status=$?
if [ -n "$(ls -A "$tsan_reports")" ]; then
  cat "$tsan_reports"/*
  echo "ThreadSanitizer reported the above"
  exit 1
fi
[ "$tsan_status" -eq 0 ] || exit "$tsan_status"

# Windows: the same sources cross-built with mingw-w64, the tests run under wine.
bash scripts/test-windows.sh

# The release: built inside a Debian 11 root (kept between runs), checked for what it needs
# of a pilot's system, and loaded by the stand-in host built there and by this machine's, and
# its Windows plug-in by its own Windows host under wine.
if [ "$(id -u)" -eq 0 ]; then
  echo "=== release"
  bash scripts/release.sh
  version=$(sed -n 's/^project(Corvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  archive=dist/corvane-$version.tar.gz
  bash tests/packaging/check-release.sh "$archive"
  bash scripts/release.sh --run bash /src/tests/packaging/serve-from-release.sh "/src/$archive"
  unshare --net bash -c 'ip link set lo up && exec bash tests/packaging/serve-from-release.sh "$@"' bash \
    "$archive" build/tools/sim/corvane-sim build/tools/client/corvane-client
  bash tests/packaging/serve-from-release.sh "$archive" windows
else
  echo "=== release: skipped (building in the Debian 11 root needs root)"
fi

bash scripts/fuzz.sh "${CORVANE_FUZZ_SECONDS:-105}"
