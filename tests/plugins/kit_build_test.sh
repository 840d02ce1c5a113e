#!/usr/bin/env bash
# Builds the example plug-in with the kit's own build script, as a plug-in author would,
# and checks what the engine relies on: a 32-bit DLL exporting RunTimeExecute without its
# stdcall decoration, and importing nothing beyond the system's own libraries.
# Usage: kit_build_test.sh SDK_DIR WORK_DIR
set -euo pipefail
sdk=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
bash "$sdk/build.sh" "$work/example_plugin.dll" "$sdk/example/example_plugin.c" "$sdk/example/example_plugin.def"
dump=$(i686-w64-mingw32-objdump -p "$work/example_plugin.dll")
fail() { echo "FAIL: $*"; exit 1; }
grep -q 'file format pei-i386' <<<"$(i686-w64-mingw32-objdump -f "$work/example_plugin.dll")" || fail "not a 32-bit DLL"
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^\s*\[ *[0-9]+\]' | sed -E 's/^\s*\[ *[0-9]+\] //')
[ "$exports" = "RunTimeExecute" ] || fail "exports are: $exports"
imports=$(grep 'DLL Name:' <<<"$dump" | awk '{print tolower($3)}' | sort | tr '\n' ' ')
for dll in $imports; do
  case $dll in kernel32.dll | msvcrt.dll | user32.dll) ;; *) fail "imports $dll" ;; esac
done
echo "the kit builds example_plugin.dll: exports RunTimeExecute, imports $imports"
