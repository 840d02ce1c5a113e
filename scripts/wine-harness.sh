#!/usr/bin/env bash
# The Wine test harness.
#   wine-harness.sh start STATE   create a private WINEPREFIX in STATE/prefix, start Xvfb and a
#                                 persistent wineserver for this run
#   wine-harness.sh run STATE PROG [ARGS...]
#                                 run a Windows program in that prefix; its exit code is ours
#   wine-harness.sh stop STATE    stop the wineserver and Xvfb of this run
#   wine-harness.sh probe         exit 0 when this machine runs 32-bit x86 programs itself,
#                                 else say why and exit 1
# KEM_WINE_ARCH=win64 at start makes the prefix a 64-bit one run by the 64-bit Wine loader,
# for the 64-bit test build; the state folder remembers it for the later commands.
# KEM_WINE_UNMANAGED=1 at start: Wine manages the windows itself (see start below).
set -u
cmd=${1:?command}

# The engine is a 32-bit x86 program, and the 32-bit Wine runs it as a 32-bit Linux
# process. Some virtual machines' kernels refuse every 32-bit x86 program ("Exec format
# error"); an emulator registered for them (binfmt_misc) makes Wine start but stall.
runs_32bit_natively() {
  local loader=/lib/ld-linux.so.2 entry  # the 32-bit x86 loader the 32-bit Wine comes with
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] || continue
    if grep -qx enabled "$entry" 2>/dev/null && grep -Eq '^magic 7f454c4601[0-9a-f]*0300$' "$entry" 2>/dev/null; then
      echo "32-bit x86 programs go to an emulator ($(sed -n 's/^interpreter //p' "$entry"), binfmt_misc entry $entry)"
      return 1
    fi
  done
  # 126: found but not executable here. A missing loader is a missing package, which the
  # tests are to report, not a property of the machine.
  "$loader" --version >/dev/null 2>&1
  if [ $? = 126 ]; then
    echo "this machine's kernel does not run 32-bit x86 programs"
    return 1
  fi
}

if [ "$cmd" = probe ]; then
  runs_32bit_natively
  exit
fi
state=${2:?state folder}; shift 2
mkdir -p "$state"
state=$(cd "$state" && pwd)
export WINEPREFIX="$state/prefix"
export WINEDEBUG=${KEM_WINEDEBUG:--all}  # KEM_WINEDEBUG=+loaddll (say) to look into a run
# The caller's own overrides (a test's WINEDLLOVERRIDES=urlmon=d, say) come on top.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
unset WINEARCH
if [ "$cmd" = start ]; then
  echo "${KEM_WINE_ARCH:-win32}" >"$state/arch"
fi
wine=wine
if [ "$(cat "$state/arch" 2>/dev/null)" = win64 ]; then
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
  wine=$WINELOADER
fi

display_of() { cat "$state/display" 2>/dev/null; }

start_xvfb() {
  local n
  for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
      echo $! >"$state/xvfb.pid"
      echo ":$n" >"$state/display"
      for _ in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
      done
      return 0
    fi
  done
  echo "no free X display" >&2
  return 1
}

case "$cmd" in
  start)
    "$0" stop "$state" >/dev/null 2>&1
    if [ "$wine" = wine ] && ! why=$(runs_32bit_natively); then
      echo "Wine cannot run the engine here: $why" >&2
      exit 77
    fi
    start_xvfb || exit 1
    export DISPLAY=$(display_of)
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot -i </dev/null >"$state/wineboot.log" 2>&1
    fi
    # A trivial program makes sure the prefix is usable.
    "$wine" cmd /c exit 0 </dev/null >/dev/null 2>&1
    # No window manager runs on the Xvfb display. Wine leaves captioned windows to one by
    # default, and before it takes such a window off the screen it waits up to 2 s for the
    # window manager to confirm that the window was mapped, so every hidden page stalls its
    # thread for 2 s here. KEM_WINE_UNMANAGED=1 tells Wine that no window manager is present
    # (X11 driver "Managed"=N): it frames and hides the windows itself, as Windows does.
    # Without it the prefix keeps Wine's default.
    if [ "${KEM_WINE_UNMANAGED:-}" = 1 ]; then
      "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    elif grep -q '^"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
      "$wine" reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f </dev/null >/dev/null 2>&1
    fi
    echo "wine prefix ready in $WINEPREFIX on display $DISPLAY"
    ;;
  run)
    export DISPLAY=$(display_of)
    prog=${1:?program}; shift
    "$wine" "$prog" "$@"
    ;;
  stop)
    if [ -d "$WINEPREFIX" ]; then
      wineserver -k >/dev/null 2>&1 || true
      wineserver -w >/dev/null 2>&1 || true
    fi
    if [ -f "$state/xvfb.pid" ]; then
      kill "$(cat "$state/xvfb.pid")" >/dev/null 2>&1 || true
      rm -f "$state/xvfb.pid" "$state/display"
    fi
    echo "wine harness stopped"
    ;;
  *)
    echo "unknown command $cmd" >&2; exit 2 ;;
esac
