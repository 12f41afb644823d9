#!/usr/bin/env bash
# Runs a Windows program under wine with its exit status: `scripts/wine-run.sh PROGRAM ARGS...`
# (the Windows build's CMAKE_CROSSCOMPILING_EMULATOR). The wine prefix is made once, under
# WINEPREFIX when set, else /var/cache/corvane/wine (or in /tmp without the rights there), and
# its wine server is started once, detached and persistent: otherwise each run would start
# and stop its own, seconds per test.
set -euo pipefail
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX=/var/cache/corvane/wine
  mkdir -p "$WINEPREFIX" 2>/dev/null && [ -w "$WINEPREFIX" ] || WINEPREFIX=/tmp/corvane-wine-$(id -u)
fi
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
mkdir -p "$WINEPREFIX"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || wine=$(command -v wine)
# One setup at a time: parallel tests all find the prefix missing at first.
exec 9>"$WINEPREFIX.lock"
flock -w 300 9
# -p: the server stays after the last program; a second start finds it running and fails.
# A server started here gets its session's system programs (services, devices) started at
# once, with no standard stream of the caller's: started by the first program instead, they
# would hold its output pipe open long after it ended.
if wineserver -p >/dev/null 2>&1 </dev/null || [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 </dev/null || true
fi
flock -u 9
exec "$wine" "$@"
