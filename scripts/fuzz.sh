#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs the serializer fuzzer for
# a short while from its seed corpus. Fails on any crash, sanitizer report or leak.
# Usage: scripts/fuzz.sh [seconds]   (default 45)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${1:-45}"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF -DCORVANE_SANITIZE=address,undefined >/dev/null
cmake --build "$build" --target serializer_fuzzer

# New inputs go to a scratch corpus; the seeds in the tree stay as they are.
work="$build/corpus-serializer"
artifacts="$build/artifacts/"
mkdir -p "$work" "$artifacts"
log="$build/serializer_fuzzer.log"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:allocator_may_return_null=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
"$build/fuzz/serializer_fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=512 \
  -artifact_prefix="$artifacts" -print_final_stats=1 "$work" "$root/fuzz/corpus/serializer" >"$log" 2>&1 || status=$?

tail -n 15 "$log"
if [ "$status" -ne 0 ] || grep -qE "ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|SUMMARY:" "$log"; then
  echo "fuzz: FAILED (exit $status), see $log and $artifacts" >&2
  exit 1
fi
echo "fuzz: no report in ${seconds}s"
