#!/usr/bin/env bash
# The Windows plug-in as X-Plane sees it, read with mingw's objdump on this machine: a 64-bit
# DLL that imports from Windows' own DLLs and the host's XPLM_64.dll only (linked -static, it
# needs no C++ runtime or thread library beside it), and exports exactly its seven entry
# points. Arguments: the objdump program and Corvane.xpl.
set -euo pipefail
table=$("$1" -p "$2")
imports=$(sed -n 's/^\tDLL Name: //p' <<<"$table" | tr '[:lower:]' '[:upper:]' | LC_ALL=C sort | tr '\n' ' ')
exports=$(sed -n 's/^\t\[ *[0-9]*\] \([A-Za-z_][A-Za-z0-9_]*\)$/\1/p' <<<"$table" | LC_ALL=C sort | tr '\n' ' ')
expected="XPluginDisable XPluginEnable XPluginReceiveMessage XPluginStart XPluginStop startGPSBridge stopGPSBridge "
status=0
grep -q "file format pei-x86-64" <<<"$table" || { echo "FAIL: not a 64-bit Windows DLL"; status=1; }
[[ " $imports" == *" XPLM_64.DLL "* ]] || { echo "FAIL: nothing imported from XPLM_64.dll"; status=1; }
for dll in $imports; do
  case $dll in
    XPLM_64.DLL | KERNEL32.DLL | MSVCRT.DLL | WS2_32.DLL | IPHLPAPI.DLL | NORMALIZ.DLL | ADVAPI32.DLL | \
      DNSAPI.DLL | USER32.DLL | SHELL32.DLL | OLE32.DLL | BCRYPT.DLL | API-MS-WIN-*) ;;
    *) echo "FAIL: imports $dll, which is not part of Windows"; status=1 ;;
  esac
done
[ "$exports" = "$expected" ] || { echo "FAIL: exports '$exports', expected '$expected'"; status=1; }
[ "$status" -eq 0 ] && echo "imports: $imports; exports: $exports"
exit "$status"
