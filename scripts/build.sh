#!/usr/bin/env bash
# Builds Kalnix for both architectures, or for those named: build/x86 and build/x64, each
# with its deliverables in bin/.
#   bash scripts/build.sh [x86] [x64]
set -euo pipefail
cd "$(dirname "$0")/.."
archs=("$@")
[ ${#archs[@]} -eq 0 ] && archs=(x86 x64)
for arch in "${archs[@]}"; do
  cmake --preset "$arch" >/dev/null
  cmake --build --preset "$arch" -j "$(nproc)"
done
