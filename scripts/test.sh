#!/usr/bin/env bash
# Builds Kalnix for both architectures and runs the default suite under Wine: the x64 suite on
# every machine, the x86 suite where this machine can start 32-bit programs (elsewhere only the
# x86 deliverables are built, and checked as files). Each ctest runs twice as many tests at
# once as the machine has cores; where both suites run, they run side by side (separate trees,
# prefixes and wineservers). Installs what is missing first. Arguments go to each ctest run
# (for example -R installer_). The extra suite is not run here: ctest --preset x64-extra.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh

# Most of a Wine test's time is spent waiting (for a program to start, a window, a timer), so
# ctest runs twice as many tests as there are cores; builds run one job per core.
jobs=$(($(nproc) * 2))
# Prints how long a step took, so that a CI log shows where the time goes.
timed() {
  local name=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  echo "test.sh: $name took $((SECONDS - start)) s"
  return $status
}

timed "installing what is missing" bash scripts/install-deps.sh
x86_runs=false
kalnix_x86_runs && x86_runs=true
if $x86_runs; then
  timed "build x86" bash scripts/build.sh x86
else
  # The x86 test programs would never run here: only what the file checks look at.
  cmake --preset x86 >/dev/null
  timed "build x86 (deliverables only)" cmake --build --preset x86 -j "$(nproc)" --target kalnix_deliverables
fi
timed "build x64" bash scripts/build.sh x64

# Windows need a display: a private Xvfb when none is given.
kalnix_start_xvfb
trap '[ -n "$KALNIX_XVFB_PID" ] && kill "$KALNIX_XVFB_PID" 2>/dev/null || true' EXIT

status=0
if $x86_runs; then
  # On a display of its own, as its tests click and type in Wine desktops as the x64 suite's do;
  # its output is shown whole once both have ended, not interleaved with the x64 suite's.
  x86_log=$(mktemp)
  timed "x86 suite" bash scripts/own-display.sh ctest --preset x86 -j "$jobs" "$@" >"$x86_log" 2>&1 &
  x86_suite=$!
  timed "x64 suite" ctest --preset x64 -j "$jobs" "$@" || status=1
  wait "$x86_suite" || status=1
  cat "$x86_log"
  rm -f "$x86_log"
else
  timed "x64 suite" ctest --preset x64 -j "$jobs" "$@" || status=1
  echo "x86 suite skipped: this machine runs 64-bit code only"
  timed "x86 file checks" ctest --preset x86-static -j "$jobs" "$@" || status=1
fi
exit $status
