#!/bin/sh
# Usage: wine-server.sh start|stop PREFIX
# Keeps one persistent wineserver for the build folder's prefix during a test
# run, so each test program does not pay Wine's start-up again.
set -e
action="$1"
export WINEPREFIX="$2"
here=$(dirname "$0")
case "$action" in
  start)
    # Creates the prefix on first use; then replaces whatever server that
    # left running with a persistent one.
    "$here/wine-run.sh" "$WINEPREFIX" cmd /c exit 0 </dev/null >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1
    # Start Wine's own background processes now, with no inherited output:
    # started later by a test, they would keep that test's output pipe open
    # for as long as the persistent server lives, and ctest would wait.
    "$here/wine-run.sh" "$WINEPREFIX" cmd /c exit 0 </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    ;;
  *) echo "usage: $0 start|stop PREFIX" >&2; exit 2 ;;
esac
