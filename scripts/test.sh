#!/usr/bin/env bash
# Builds Kalnix for both architectures and runs every test under Wine: the x64 suite on
# every machine, the x86 suite where this machine can start 32-bit programs (elsewhere the
# x86 deliverables are checked as files only). Installs what is missing first. Arguments
# go to each ctest run (for example -R installer_).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh

bash scripts/install-deps.sh
bash scripts/build.sh x86 x64

# Windows need a display: a private Xvfb when none is given.
kalnix_start_xvfb
trap '[ -n "$KALNIX_XVFB_PID" ] && kill "$KALNIX_XVFB_PID" 2>/dev/null || true' EXIT

status=0
ctest --preset x64 "$@" || status=1
if kalnix_x86_runs; then
  ctest --preset x86 "$@" || status=1
else
  echo "x86 suite skipped: this machine runs 64-bit code only"
  ctest --preset x86-static "$@" || status=1
fi
exit $status
