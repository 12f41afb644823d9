#!/usr/bin/env bash
# Loads the release archive's plug-in into corvane-sim as X-Plane would and has it serve an
# app: the menu is there, "Start Corvane bridge" serves corvane-client three records over
# 127.0.0.1, "Stop Corvane bridge" and the unload are clean, with no SDK call off the main
# thread. Arguments: the archive (or a folder holding Corvane/, such as a build's plugins/),
# then optionally the host and client programs to use (default: the archive's own bin/).
# Windows programs (.exe) run under wine and load win_x64/Corvane.xpl; "windows" in place of
# the host means the archive's own bin/win_x64/.
set -euo pipefail
release=$1
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill -KILL "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ -d "$release" ]; then
  top=$release
else
  tar -xzf "$release" -C "$work"
  top=$(find "$work" -mindepth 1 -maxdepth 1 -type d)
fi
[ "${2:-}" = windows ] && set -- "$1" "$top/bin/win_x64/corvane-sim.exe" "$top/bin/win_x64/corvane-client.exe"
sim=${2:-$top/bin/corvane-sim}
client=${3:-$top/bin/corvane-client}
folder=lin_x64 run=()
if [[ $sim == *.exe ]]; then
  folder=win_x64 run=(bash "$(dirname "$0")/../../scripts/wine-run.sh")
fi
plugin=$top/Corvane/$folder/Corvane.xpl

fail() {
  echo "FAIL ($sim): $*"
  echo "--- host output"
  cat "$work/sim.out" || true
  exit 1
}

mkfifo "$work/commands"
"${run[@]}" "$sim" --strict-threads "$plugin" <"$work/commands" >"$work/sim.out" 2>&1 &
sim_pid=$!
exec 3>"$work/commands"
echo "menus" >&3
echo "menu Start Corvane bridge" >&3
if ! timeout 60 "${run[@]}" "$client" --host 127.0.0.1 --count 3 --wait 10 --csv >"$work/client.out" 2>"$work/client.err"; then
  cat "$work/client.err"
  fail "the client was not served"
fi
echo "menu Stop Corvane bridge" >&3
echo "quit" >&3
exec 3>&-
status=0
timeout 30 tail --pid="$sim_pid" -f /dev/null || fail "the host did not quit"
wait "$sim_pid" || status=$?
sim_pid=""

[ "$status" -eq 0 ] || fail "the host exited with status $status"
grep -q "Start Corvane bridge \[ref 1\]" "$work/sim.out" || fail "no Start item in the menu"
grep -q "Stop Corvane bridge \[ref 2\]" "$work/sim.out" || fail "no Stop item in the menu"
grep -q "Stopping Corvane bridge" "$work/sim.out" || fail "the bridge was not stopped"
grep -q "sim: threading violations: 0" "$work/sim.out" || fail "SDK calls off the main thread"
[ "$(grep -c '^[0-9]' "$work/client.out")" -eq 3 ] || fail "not three records: $(cat "$work/client.out")"
echo "served from the release plug-in: $sim"
