#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a user gets: the plug-in folder
# Corvane/ ready to copy into X-Plane's plugins folder, the tools in bin/, and nothing else
# (no test program). Arguments: the cmake program and the build directory.
set -euo pipefail
cmake=$1
build=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

status=0
fail() {
  echo "FAIL: $*"
  status=1
}

expected="bin/corvane-client
bin/corvane-dump
bin/corvane-sim
Corvane/README.txt
Corvane/lin_x64/Corvane.xpl
Corvane/log.conf.example"
installed=$(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
expected=$(echo "$expected" | LC_ALL=C sort)
[ "$installed" = "$expected" ] || fail "installed files differ from the expected ones:
$(diff <(echo "$expected") <(echo "$installed") || true)"

for tool in bin/corvane-client bin/corvane-dump bin/corvane-sim; do
  [ -x "$prefix/$tool" ] || fail "$tool is not executable"
done

xpl=$prefix/Corvane/lin_x64/Corvane.xpl
if [ -f "$xpl" ]; then
  # ELF magic, then e_type at offset 16: 3 is a shared object.
  [ "$(od -An -tx1 -N4 "$xpl" | tr -d ' \n')" = "7f454c46" ] || fail "Corvane.xpl is not an ELF file"
  [ "$(od -An -tu2 -j16 -N2 "$xpl" | tr -d ' \n')" = "3" ] || fail "Corvane.xpl is not a shared object"
  # It shares the simulator's process with other plug-ins: it exports the host's entry points and
  # the two bridge functions, all functions with C names, and nothing of the framework inside it.
  exports=$(nm -D --defined-only "$xpl" | awk '{print $2 ":" $3}' | LC_ALL=C sort -t: -k2 | tr '\n' ' ')
  expected="T:XPluginDisable T:XPluginEnable T:XPluginReceiveMessage T:XPluginStart T:XPluginStop T:startGPSBridge T:stopGPSBridge "
  [ "$exports" = "$expected" ] || fail "Corvane.xpl exports '$exports', expected '$expected'"
fi

grep -q "^__|__$" "$prefix/Corvane/log.conf.example" 2>/dev/null || fail "log.conf.example describes no sink"
grep -q "Resources/plugins" "$prefix/Corvane/README.txt" 2>/dev/null || fail "README.txt does not say where the folder goes"

[ "$status" -eq 0 ] && echo "installed as expected"
exit "$status"
