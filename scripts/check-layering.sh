#!/usr/bin/env bash
# The layering rules of src/ and tools/, checked over every #include:
#
# 1. Windows headers (and our own headers that pull them in) appear only in the platform
#    layer, src/platform/, and in kem.lib's Windows entry file. Everything else is portable
#    code that the native build compiles and tests.
# 2. Includes run downwards only. The layers, from the bottom up (a folder may include its
#    own layer and those below it):
#      kem.lib's C interface (src/kemlib/archive_library.h, which includes nothing of ours)
#      common
#      script/store
#      engine
#      script (every other folder of src/script/)
#      components
#      commands, installer, dialogs, media
#      platform
#      launcher, kemlib
#    The builder (tools/) stands beside the platform: it includes up to the commands'
#    layer, and nothing under src/ includes it.
#
# Prints the offending files and exits 1 when a rule is broken.
#   check-layering.sh               checks this checkout
#   check-layering.sh --root DIR    checks the src/ and tools/ folders under DIR
#   check-layering.sh --self-test   checks that the check fails on planted upward includes
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$here/.."

if [ "${1:-}" = "--self-test" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$root" && git ls-files -co --exclude-standard -- src tools | tar -cf - -T -) | tar -xf - -C "$work"
  status=0
  if ! bash "$0" --root "$work" >"$work/out" 2>&1; then
    echo "self-test: the unchanged tree fails the check:"; cat "$work/out"; exit 1
  fi
  # Each probe: the file it is planted in and the include; every one must fail the check
  # and be named in its report.
  probes=(
    'src/common/text.cpp|#include "launcher/run_script.h"'
    'src/engine/engine_context.cpp|#include "script/interpreter/interpreter.h"'
    'src/script/store/variable_manager.cpp|#include "engine/engine_context.h"'
    'src/components/components.cpp|#include "installer/session.h"'
    'src/media/archive_operations.cpp|#include "platform/archive/archive_host.h"'
    'src/installer/session.cpp|#include "platform/handles.h"'
    'src/dialogs/runtime/dialog_runtime.cpp|#include <windows.h>'
    'src/kemlib/archive_library.h|#include "common/text.h"'
    'src/script/interpreter/interpreter.cpp|#include "kembuild/guid.h"'
    'tools/kembuild/guid.cpp|#include "platform/text/text.h"'
  )
  for probe in "${probes[@]}"; do
    file=${probe%%|*}
    line=${probe#*|}
    cp "$work/$file" "$work/saved"
    printf '%s\n' "$line" >>"$work/$file"
    if bash "$0" --root "$work" >"$work/out" 2>&1; then
      echo "self-test: not caught: $line in $file"; status=1
    elif ! grep -qF "$file" "$work/out"; then
      echo "self-test: caught, but $file is not named:"; cat "$work/out"; status=1
    fi
    cp "$work/saved" "$work/$file"
  done
  [ $status -eq 0 ] && echo "layering self-test: ${#probes[@]} planted upward includes caught"
  exit $status
fi

if [ "${1:-}" = "--root" ]; then
  root="$2"
fi
cd "$root" || exit 2

if git rev-parse --is-inside-work-tree >/dev/null 2>&1 && [ "$(git rev-parse --show-toplevel)" = "$(pwd -P)" ]; then
  list_files() { git ls-files -co --exclude-standard -- src tools; }
else
  list_files() { find src tools -type f; }
fi

list_files | grep -E '\.(c|cc|cpp|h|hpp|inc)$' | python3 -c '
import os, re, sys

WINDOWS = re.compile(r"^\s*#\s*include\s*[<\"]((windows|winbase|windef|winuser|winreg|winsvc|winnt|winternl|winsock2?|ws2tcpip|shlobj|shellapi|shlwapi|commctrl|commdlg|objbase|ole2|oleauto|msi|msiquery|wininet|urlmon|tlhelp32|psapi|wincrypt|dbghelp|shobjidl|propsys|mmsystem)\.h|platform/handles\.h)[>\"]", re.I)
INCLUDE = re.compile(r"^\s*#\s*include\s*\"([^\"]+)\"")
INTERFACE = "src/kemlib/archive_library.h"
TOOLS = 5.5  # beside the platform, above the commands layer
LAYERS = [
    ("common", 1), ("script/store", 2), ("engine", 3), ("script", 4), ("components", 5),
    ("commands", 5.2), ("installer", 5.2), ("dialogs", 5.2), ("media", 5.2),
    ("platform", 6), ("launcher", 7), ("kemlib", 7),
]
NAMES = {0: "kem.lib interface", 1: "common", 2: "script/store", 3: "engine", 4: "script", 5: "components",
         5.2: "commands/installer/dialogs/media", TOOLS: "tools", 6: "platform", 7: "launcher/kemlib"}

def layer(path):
    if path == INTERFACE:
        return 0
    if path.startswith("tools/"):
        return TOOLS
    if not path.startswith("src/"):
        return None
    rest = path[4:]
    best = None
    for prefix, rank in LAYERS:
        if rest == prefix or rest.startswith(prefix + "/"):
            if best is None or len(prefix) > len(best[0]):
                best = (prefix, rank)
    return best[1] if best else None

windows, upward = [], []
for path in (l.strip() for l in sys.stdin):
    if not path or not os.path.isfile(path):
        continue
    own = layer(path)
    portable = not (path.startswith("src/platform/") or path == "src/kemlib/kemlib_win32.cpp")
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, text in enumerate(f, 1):
            if portable and WINDOWS.search(text):
                windows.append(f"{path}:{number}: {text.strip()}")
            m = INCLUDE.match(text)
            if not m or own is None:
                continue
            name = m.group(1)
            target = None
            for base in ("src", "tools"):
                if os.path.isfile(os.path.join(base, name)):
                    target = base + "/" + name
                    break
            if target is None:
                continue
            theirs = layer(target)
            if theirs is None:
                continue
            wrong = theirs > own
            # The builder stands beside the platform: neither includes the other.
            if own == TOOLS and theirs >= 6:
                wrong = True
            if theirs == TOOLS and own != TOOLS:
                wrong = True
            if wrong:
                upward.append(f"{path}:{number}: {name} ({NAMES[own]} includes {NAMES[theirs]})")

if windows:
    print("Windows headers outside src/platform/ (move the Win32 half behind a platform interface):")
    print("\n".join(windows))
if upward:
    print("Includes that run upward (move the shared part down, or reach it through a service interface):")
    print("\n".join(upward))
if windows or upward:
    sys.exit(1)
print("layering: Windows headers only in src/platform/ and src/kemlib/kemlib_win32.cpp; every include runs downwards")
'
