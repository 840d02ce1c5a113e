#!/usr/bin/env bash
# Builds a plug-in from this folder with MinGW-w64 (i686): build.sh OUT.dll SOURCE.c DEF [more sources]
#   bash sdk/build.sh build/example_plugin.dll sdk/example/example_plugin.c sdk/example/example_plugin.def
# The DLL is 32-bit, links the C runtime statically and exports RunTimeExecute undecorated.
set -euo pipefail
SDK=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$1 source=$2 def=$3
shift 3
CC=${CC:-i686-w64-mingw32-gcc}
"$CC" -std=c99 -O2 -Wall -Wextra -shared -static-libgcc -I"$SDK" -o "$out" "$source" "$SDK/kem_plugin.c" "$@" "$def" \
  -Wl,--enable-stdcall-fixup
