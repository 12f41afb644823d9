#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour checks) and runs
# them from their seed corpora: every parser of outside input, each for its share of the
# time given. Fails on any crash, sanitizer report, leak or time-out, on a target that does
# not build, and on a target without its seed corpus.
#
# Usage: scripts/fuzz.sh [SECONDS]              every target, SECONDS in all (default 105),
#                                               split evenly
#        scripts/fuzz.sh --only NAME SECONDS    one target for SECONDS (a campaign)
# Options, before the rest:
#   --build DIR   build and keep the working corpora in DIR (default build-fuzz); a
#                 campaign keeps its corpus there between runs, in DIR/corpus-NAME
#   --fast        no allocation stacks in sanitizer reports and a smaller quarantine for
#                 freed memory: much faster for long runs; replay a finding without it
#                 (the target with the artifact as argument)
#   --list        print the target names and stop
# CORVANE_FUZZ_FLAGS adds libFuzzer flags to every run (e.g. "-max_len=512").
# Findings go to DIR/artifacts/, each run's output to DIR/NAME_fuzzer.log.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
targets=(serializer json gzip login logconfig date utf8)
build="$root/build-fuzz"
only=""
fast=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build)
      build="$(mkdir -p "$2" && cd "$2" && pwd)"
      shift 2
      ;;
    --only)
      only="$2"
      shift 2
      ;;
    --fast)
      fast=1
      shift
      ;;
    --list)
      printf '%s\n' "${targets[@]}"
      exit 0
      ;;
    -*)
      echo "fuzz: unknown option $1" >&2
      exit 2
      ;;
    *) break ;;
  esac
done
seconds="${1:-105}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "fuzz: seconds must be a positive whole number, not '$seconds'" >&2
  exit 2
fi

if [ -n "$only" ]; then
  if ! printf '%s\n' "${targets[@]}" | grep -qx -- "$only"; then
    echo "fuzz: no target '$only' (targets: ${targets[*]})" >&2
    exit 2
  fi
  targets=("$only")
fi
for name in "${targets[@]}"; do
  if ! compgen -G "$root/fuzz/corpus/$name/*" >/dev/null; then
    echo "fuzz: seed corpus fuzz/corpus/$name is missing or empty" >&2
    exit 1
  fi
done
share=$((seconds / ${#targets[@]}))
[ "$share" -ge 1 ] || share=1

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF -DCORVANE_SANITIZE=address,undefined >/dev/null
if ! cmake --build "$build" --target "${targets[@]/%/_fuzzer}"; then
  echo "fuzz: the fuzz targets do not build" >&2
  exit 1
fi

asan="detect_leaks=1:abort_on_error=0:allocator_may_return_null=0"
[ "$fast" -eq 0 ] || asan="$asan:malloc_context_size=0:quarantine_size_mb=64"
export ASAN_OPTIONS="$asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The targets' scratch directories (received files, stored streams, log files) go to
# memory when the machine has a tmpfs for it: a file per input on disk costs more than
# the parsing.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
artifacts="$build/artifacts/"
mkdir -p "$artifacts"
failed=0
for name in "${targets[@]}"; do
  # New inputs go to a working corpus; the seeds in the tree stay as they are.
  work="$build/corpus-$name"
  mkdir -p "$work"
  log="$build/${name}_fuzzer.log"
  status=0
  "$build/fuzz/${name}_fuzzer" -max_total_time="$share" -timeout=25 -rss_limit_mb=2048 -malloc_limit_mb=512 \
    -artifact_prefix="$artifacts" -print_final_stats=1 ${CORVANE_FUZZ_FLAGS:-} "$work" "$root/fuzz/corpus/$name" \
    >"$log" 2>&1 || status=$?
  done_line="$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  speed="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
  echo "== ${name}_fuzzer: ${runs:-0} inputs in ${share}s (${speed:-0}/s); ${done_line#*DONE }"
  if [ "$status" -ne 0 ] || [ -z "$done_line" ] ||
    grep -qE "ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|SUMMARY:" "$log"; then
    tail -n 40 "$log"
    echo "fuzz: ${name}_fuzzer FAILED (exit $status), see $log and $artifacts" >&2
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "fuzz: no report in ${seconds}s (${share}s per target: ${targets[*]})"
