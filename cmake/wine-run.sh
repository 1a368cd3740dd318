#!/bin/sh
# Usage: wine-run.sh PREFIX PROGRAM [ARG...]
# Runs a Windows program under Wine with the build folder's private prefix.
# CMake uses it as the cross-compiling emulator, so ctest runs every test
# program through it. The prefix is created on first use; a lock keeps
# concurrent first uses from racing each other.
set -e
export WINEPREFIX="$1"
shift
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/.kestrin-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.kestrin-ready" ]; then
      wineboot -i >/dev/null 2>&1
      touch "$WINEPREFIX/.kestrin-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
