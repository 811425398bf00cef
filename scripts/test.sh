#!/usr/bin/env bash
# Builds Kalnix for both architectures and runs the default suite under Wine: the x64 suite on
# every machine, the x86 suite where this machine can start 32-bit programs (elsewhere only the
# x86 deliverables are built, and checked as files). Each ctest runs twice as many tests at
# once as the machine has cores; the suites run one after the other, since tests that still
# hold waits against the wall clock run alone (RUN_SERIAL). Installs what is missing first.
# Arguments go to each ctest run (for example -R installer_). The extra suite is not run here:
# ctest --preset x64-extra.
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
timed "x64 suite" ctest --preset x64 -j "$jobs" "$@" || status=1
if $x86_runs; then
  timed "x86 suite" ctest --preset x86 -j "$jobs" "$@" || status=1
else
  echo "x86 suite skipped: this machine runs 64-bit code only"
  timed "x86 file checks" ctest --preset x86-static -j "$jobs" "$@" || status=1
fi
exit $status
