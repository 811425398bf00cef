#!/usr/bin/env bash
# Runs the logo decoder over the PngSuite images (../shared/corpus/pngsuite/ beside the
# repository, or the folder given), natively under ASan/UBSan: each image must decode to
# exactly libpng's raw samples or be refused cleanly. Skips when the folder is absent.
# Usage: scripts/png-conformance.sh [folder]
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${1:-../shared/corpus/pngsuite}
if [ ! -d "$corpus" ]; then
  echo "no PngSuite folder at $corpus: skipped"
  exit 0
fi
build=build-png-native
compiler=()
if command -v clang++ >/dev/null; then compiler=(-DCMAKE_CXX_COMPILER=clang++); fi
cmake -S tests/image/native -B "$build" -G Ninja "${compiler[@]}" >/dev/null
cmake --build "$build" -j 2 --target png_conformance >/dev/null
shopt -s nullglob
files=("$corpus"/*.png)
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$build/png_conformance" "${files[@]}"
