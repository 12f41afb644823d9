#!/usr/bin/env bash
# Checks that the release plug-in loads on every Linux since glibc 2.31: it needs no shared
# library beyond the C library family (the C++ runtime is inside), no glibc symbol version
# newer than 2.31, and exports exactly the host's five entry points and the two bridge
# functions; and that its Windows plug-in passes check-windows-plugin.sh. Argument: the
# release archive.
set -euo pipefail
archive=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar -xzf "$archive" -C "$work"
plugin=$(find "$work" -path '*/Corvane/lin_x64/Corvane.xpl')
[ -f "$plugin" ] || {
  echo "FAIL: no Corvane/lin_x64/Corvane.xpl in $archive"
  exit 1
}

status=0
fail() {
  echo "FAIL: $*"
  status=1
}

allowed=" libc.so.6 libm.so.6 libdl.so.2 libpthread.so.0 librt.so.1 ld-linux-x86-64.so.2 "
needed=$(readelf -d "$plugin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for library in $needed; do
  [[ "$allowed" == *" $library "* ]] || fail "needs $library"
done

# Every version the plug-in asks of another library, from its version-needs section.
versions=$(readelf -V "$plugin" | sed -n 's/.*Name: \([A-Z_]*[0-9][0-9.]*\).*/\1/p' | sort -uV)
newest_glibc=$(echo "$versions" | grep '^GLIBC_' | sort -V | tail -1)
[ "$(printf '%s\n' "$newest_glibc" GLIBC_2.31 | sort -V | tail -1)" = GLIBC_2.31 ] ||
  fail "needs $newest_glibc, newer than GLIBC_2.31"
others=$(echo "$versions" | grep -v '^GLIBC_' || true)
[ -z "$others" ] || fail "needs symbol versions of other libraries: $others"

windows=$(find "$work" -path '*/Corvane/win_x64/Corvane.xpl')
[ -f "$windows" ] || fail "no Corvane/win_x64/Corvane.xpl"
[ -f "$windows" ] && { bash "$(dirname "$0")/check-windows-plugin.sh" x86_64-w64-mingw32-objdump "$windows" || status=1; }

exports=$(nm -D --defined-only "$plugin" | awk '{print $3}' | LC_ALL=C sort | tr '\n' ' ')
expected="XPluginDisable XPluginEnable XPluginReceiveMessage XPluginStart XPluginStop startGPSBridge stopGPSBridge "
[ "$exports" = "$expected" ] || fail "exports '$exports', expected '$expected'"

if [ "$status" -eq 0 ]; then
  echo "release plug-in: needs $(echo $needed | tr ' ' ','); newest $newest_glibc; $(stat -c %s "$plugin") bytes; exports the 7 entry points"
fi
exit "$status"
