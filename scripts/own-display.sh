#!/usr/bin/env bash
# Runs a program with a private Xvfb display of its own, stopped when the program ends: for a
# test whose windows must not land on the display where other tests click, type and look for
# the focus.
#   own-display.sh PROGRAM [ARGS...]
set -uo pipefail
. "$(dirname "$0")/wine-env.sh"
unset DISPLAY
kalnix_start_xvfb
trap 'kill "$KALNIX_XVFB_PID" 2>/dev/null' EXIT
"$@"
