#!/usr/bin/env bash
# The main job: builds the engine (kemstub.exe, kem.lib) and the setup builder, builds the
# example project examples/hello into a setup folder, and runs that setup silently under
# Wine with a trace log. Prints the setup's exit code and its trace. Then builds the example
# wizard (examples/wizard) and shows it: on your own display when there is one (DISPLAY
# set, outside CI; click through it), otherwise on the harness's Xvfb display, where its
# first page is photographed into the build folder (KEM_WIZARD=0 skips the wizard). Between
# the two, the plug-in example runs a setup whose statement a plug-in built from sdk/ does.
# Installs what it needs first (scripts/install-deps.sh, as root).
# --product: then the installable example (examples/product) is installed silently, shown in
# Wine's list of installed programs, repaired from its installer cache after one of its
# files is deleted, and removed through its registration's QuietUninstallString.
# Environment: KEM_BUILD_DIR (default ./build), KEM_JOBS, KEM_EXAMPLE (default examples/hello).
set -euo pipefail
PRODUCT=0
for arg in "$@"; do
  case $arg in
    --product) PRODUCT=1 ;;
    *) echo "unknown option $arg (known: --product)" >&2; exit 2 ;;
  esac
done
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD=${KEM_BUILD_DIR:-$ROOT/build}
JOBS=${KEM_JOBS:-$(nproc)}
EXAMPLE=${KEM_EXAMPLE:-$ROOT/examples/hello}

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
as_root bash "$ROOT/scripts/install-deps.sh"

# Setups ship the 32-bit engine. A machine that cannot run 32-bit x86 programs runs the
# samples with a 64-bit build of the same sources under the 64-bit Wine instead.
ARCH=win32
TOOLCHAIN=cmake/mingw-i686.cmake
PLUGIN_CC=i686-w64-mingw32-gcc
WINE_LOADER=wine
if ! why=$("$ROOT/scripts/wine-harness.sh" probe); then
  echo "=== $why: the samples run as a 64-bit build under the 64-bit Wine"
  as_root bash "$ROOT/scripts/build-mingw-libs.sh" x86_64
  ARCH=win64
  TOOLCHAIN=cmake/mingw-x86_64.cmake
  PLUGIN_CC=x86_64-w64-mingw32-gcc
  WINE_LOADER=/usr/lib/wine/wine64
  export KEM_WINE_ARCH=win64
fi

echo "=== building the engine ($ARCH) and the builder (native)"
cmake -S . -B "$BUILD/sample-native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKEM_TESTS=OFF -DKEM_BENCH=OFF >/dev/null
cmake --build "$BUILD/sample-native" -j"$JOBS" --target kembuild
cmake -S . -B "$BUILD/sample-$ARCH" -G Ninja -DCMAKE_TOOLCHAIN_FILE=$TOOLCHAIN -DCMAKE_BUILD_TYPE=Release \
  -DKEM_TESTS=OFF >/dev/null
cmake --build "$BUILD/sample-$ARCH" -j"$JOBS" --target kemstub kemlib

ENGINE_DIR="$BUILD/sample-engine-$ARCH"
mkdir -p "$ENGINE_DIR"
cp "$BUILD/sample-$ARCH/src/launcher/kemstub.exe" "$ENGINE_DIR/kemstub.exe"
cp "$BUILD/sample-$ARCH/src/kemlib/kem.lib" "$ENGINE_DIR/kem.lib"

OUT="$BUILD/sample-setup"
echo "=== building the setup from $EXAMPLE into $OUT"
rm -rf "$OUT"
"$BUILD/sample-native/tools/kembuild/kembuild" build "$EXAMPLE" -o "$OUT" --engine-dir "$ENGINE_DIR"
ls -l "$OUT"

STATE="$BUILD/sample-wine-$ARCH"
trap '"$ROOT/scripts/wine-harness.sh" stop "$STATE" >/dev/null 2>&1' EXIT
echo "=== preparing Wine"
"$ROOT/scripts/wine-harness.sh" start "$STATE"
exe=$(find "$OUT" -maxdepth 1 -name '*.exe' | head -n 1)
trace="$OUT/trace.log"
rm -f "$trace"
echo "=== running $(basename "$exe") /s /l=<trace>"
set +e
"$ROOT/scripts/wine-harness.sh" run "$STATE" "$exe" /s "/l=Z:${trace//\//\\}"
code=$?
set -e
echo "=== trace log"
if [ -f "$trace" ]; then iconv -f UTF-16LE -t UTF-8 "$trace"; fi
echo "=== the setup ended with exit code $code"

# The plug-in example: the example plug-in is built from the plug-in kit (sdk/) into a copy
# of examples/plugin, and the setup calls it three times and ends with exit code 3.
POUT="$BUILD/sample-plugin"
PPROJECT="$BUILD/sample-plugin-project"
echo "=== building the example plug-in from sdk/ and the setup from $ROOT/examples/plugin into $POUT"
rm -rf "$POUT" "$PPROJECT"
cp -r "$ROOT/examples/plugin" "$PPROJECT"
mkdir -p "$PPROJECT/support"
CC=$PLUGIN_CC bash "$ROOT/sdk/build.sh" "$PPROJECT/support/example_plugin.dll" "$ROOT/sdk/example/example_plugin.c" \
  "$ROOT/sdk/example/example_plugin.def"
"$BUILD/sample-native/tools/kembuild/kembuild" build "$PPROJECT" -o "$POUT" --engine-dir "$ENGINE_DIR" >/dev/null
set +e
"$ROOT/scripts/wine-harness.sh" run "$STATE" "$POUT/plugin.exe" /s
code=$?
set -e
echo "=== the plug-in example ended with exit code $code (3: three calls)"

# The installable example: install, list, repair from the cache, remove.
if [ "$PRODUCT" = 1 ]; then
  harness() { "$ROOT/scripts/wine-harness.sh" run "$STATE" "$@"; }
  uninstall_value() {  # the value of the product's uninstall entry, per machine or per user
    local root
    for root in HKLM HKCU; do
      harness reg query "$root\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kem Product" /v "$1" \
        2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p" && return 0
    done
  }
  PROUT="$BUILD/sample-product"
  echo "=== building the setup from $ROOT/examples/product into $PROUT"
  rm -rf "$PROUT"
  "$BUILD/sample-native/tools/kembuild/kembuild" build "$ROOT/examples/product" -o "$PROUT" --engine-dir "$ENGINE_DIR" >/dev/null
  set +e
  harness "$PROUT/product.exe" /s
  echo "=== installed: exit code $?"
  echo "=== Wine's list of installed programs"
  harness uninstaller --list
  target=$(uninstall_value InstallLocation)
  echo "=== InstallLocation: $target; QuietUninstallString: $(uninstall_value QuietUninstallString)"
  harness cmd /c del "${target}readme.txt"
  modify=$(uninstall_value ModifyPath)
  eval "set -- $modify"
  harness "$@" /s
  echo "=== repaired from the cache: exit code $?; readme.txt back: $(harness cmd /c if exist "${target}readme.txt" echo yes | tr -d '\r')"
  quiet=$(uninstall_value QuietUninstallString)
  eval "set -- $quiet"
  harness "$@"
  echo "=== removed through the QuietUninstallString: exit code $?"
  harness uninstaller --list
  set -e
fi

# The example wizard.
[ "${KEM_WIZARD:-1}" = 0 ] && exit 0
WOUT="$BUILD/sample-wizard"
echo "=== building the setup from $ROOT/examples/wizard into $WOUT"
rm -rf "$WOUT"
"$BUILD/sample-native/tools/kembuild/kembuild" build "$ROOT/examples/wizard" -o "$WOUT" --engine-dir "$ENGINE_DIR" >/dev/null
wizard="$WOUT/wizard.exe"
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ]; then
  echo "=== showing the wizard on $DISPLAY (click through it or cancel)"
  set +e
  WINEPREFIX="$STATE/prefix" WINEDEBUG=-all "$WINE_LOADER" "$wizard"
  echo "=== the wizard ended with exit code $?"
  exit 0
fi
xdisplay=$(cat "$STATE/display")
shot="$WOUT/wizard-first-page.png"
echo "=== running the wizard on the Xvfb display $xdisplay"
"$ROOT/scripts/wine-harness.sh" run "$STATE" "$wizard" &
shown=
for _ in $(seq 1 120); do
  if DISPLAY=$xdisplay xwininfo -root -tree 2>/dev/null | grep -q '"Wizard Example Setup'; then shown=1; break; fi
  sleep 0.5
done
if [ -n "$shown" ]; then
  sleep 1
  DISPLAY=$xdisplay import -window root "$shot"
  echo "=== the wizard's first page is on screen; screenshot: $shot"
else
  echo "=== the wizard's first page did not appear" >&2
  exit 1
fi
