#!/usr/bin/env bash
# The Windows stage of the test command: cross-builds everything for 64-bit Windows with
# mingw-w64 into build-win, runs the tests under wine (scripts/wine-run.sh), all but those
# labelled linux_only (network namespaces, AF_UNIX socket pairs, /proc, the DNS-SD sandbox),
# then has the Windows plug-in in the Windows host serve the Windows client over 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${CORVANE_JOBS:-2}
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
dir=build-win

echo "=== $dir (mingw-w64, tests under wine)"
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCORVANE_TESTS=ON >/dev/null
cmake --build "$dir" -j "$jobs"

# Left out: the linux_only tests of this build, and the cases of the Linux-only test sources
# that a Windows build does not compile (listed by its configuration, one a line).
labelled=$(ctest --test-dir "$dir" -N -L linux_only | sed -n 's/^Total Tests: //p')
excluded=$((${labelled:-0} + $(grep -c . "$dir/tests/not_built_cases.txt")))
status=0
ctest --test-dir "$dir" -LE linux_only -j "$jobs" --output-on-failure --timeout 300 | tee "$dir/ctest.log" ||
  status=$?
ran=$(sed -n 's/.* tests\{0,1\} failed out of \([0-9]*\)$/\1/p' "$dir/ctest.log")
# Skipped: a test that needs what this system lacks (GTEST_SKIP with the reason in its output).
skipped=$(grep -c '(Skipped)$' "$dir/ctest.log" || true)
echo "windows: ${ran:-0} tests ran under wine (${skipped:-0} of them skipped), ${excluded:-0} linux_only tests left out"
[ "$status" -eq 0 ] || exit "$status"

bash tests/packaging/serve-from-release.sh "$dir/plugins" "$dir/tools/sim/corvane-sim.exe" \
  "$dir/tools/client/corvane-client.exe"
