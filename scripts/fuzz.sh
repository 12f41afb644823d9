#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for its share of a
# short while from its seed corpus: the object stream reader, the JSON reader, then the gzip
# filter. Fails on any crash, sanitizer report or leak.
# Usage: scripts/fuzz.sh [seconds]   (default 45 in all, split evenly between the fuzzers)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${1:-45}"
fuzzers=(serializer json gzip)
share=$((seconds / ${#fuzzers[@]}))
[ "$share" -ge 1 ] || share=1

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF -DCORVANE_SANITIZE=address,undefined >/dev/null
cmake --build "$build" --target "${fuzzers[@]/%/_fuzzer}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:allocator_may_return_null=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
artifacts="$build/artifacts/"
mkdir -p "$artifacts"
failed=0
for name in "${fuzzers[@]}"; do
  # New inputs go to a scratch corpus; the seeds in the tree stay as they are.
  work="$build/corpus-$name"
  mkdir -p "$work"
  log="$build/${name}_fuzzer.log"
  status=0
  "$build/fuzz/${name}_fuzzer" -max_total_time="$share" -rss_limit_mb=2048 -malloc_limit_mb=512 \
    -artifact_prefix="$artifacts" -print_final_stats=1 "$work" "$root/fuzz/corpus/$name" >"$log" 2>&1 || status=$?
  echo "== ${name}_fuzzer"
  tail -n 15 "$log"
  if [ "$status" -ne 0 ] || grep -qE "ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|SUMMARY:" "$log"; then
    echo "fuzz: ${name}_fuzzer FAILED (exit $status), see $log and $artifacts" >&2
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "fuzz: no report in ${seconds}s (${share}s per fuzzer)"
