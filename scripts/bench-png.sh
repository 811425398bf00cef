#!/usr/bin/env bash
# Instruction counts (valgrind callgrind) of decoding the shipped logo and converting it to
# the DIB's bytes, side by side with zlib's raw inflate of the same IDAT data alone (the
# floor), libpng's simplified API, libspng and stb_image, all in one run. Native x86_64.
# Usage: scripts/bench-png.sh [file.png]   (default res/logo.png)
set -euo pipefail
cd "$(dirname "$0")/.."
image=${1:-res/logo.png}
build=build-png-bench

cmake -S bench/png -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2 >/dev/null
out=$build/callgrind.out
valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
  --toggle-collect='Measure*' "$build/png_bench" "$image" 2>"$build/valgrind.log"
callgrind_annotate --inclusive=yes "$out" 2>/dev/null | python3 bench/png/callgrind_table.py
