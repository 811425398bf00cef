#!/usr/bin/env bash
# Creates (once) the Wine prefix of a build tree and keeps one persistent wineserver for a
# test run, so each test process starts in milliseconds.
#   wine-prefix.sh up ARCH PREFIX [POWRPROF]   create the prefix if needed, put the stand-in
#                                              power library into its system32, start the server
#   wine-prefix.sh down ARCH PREFIX            stop the server
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
action=$1
kalnix_wine_env "$2" "$3"

case "$action" in
  up)
    kalnix_prefix_ready
    if [ -n "${4:-}" ]; then kalnix_power_standin "$4"; fi
    kalnix_server_start
    ;;
  down) kalnix_server_stop ;;
  *) echo "usage: $0 up|down x86|x64 PREFIX" >&2; exit 2 ;;
esac
