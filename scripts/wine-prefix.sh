#!/usr/bin/env bash
# Creates (once) the Wine prefix of a build tree and keeps one persistent wineserver for a
# test run, so each test process starts in milliseconds.
#   wine-prefix.sh up PREFIX     create the prefix if needed, start the persistent server
#   wine-prefix.sh down PREFIX   stop the server
set -euo pipefail
action=$1
export WINEPREFIX=$2
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

case "$action" in
  up)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      wineboot -i </dev/null >/dev/null 2>&1 || true
      wineserver -w
    fi
    # The server and the processes it starts must not hold the caller's output open
    # (ctest waits for its pipes to close).
    wineserver -p </dev/null >/dev/null 2>&1 || true   # fails harmlessly when one already runs
    # Warm the prefix: the first process after a server start pays for services and explorer.
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
    ;;
  down)
    wineserver -k 2>/dev/null || true
    ;;
  *) echo "usage: $0 up|down PREFIX" >&2; exit 2 ;;
esac
