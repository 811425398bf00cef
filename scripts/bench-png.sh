#!/usr/bin/env bash
# Instruction counts (valgrind callgrind) of decoding PNG images and converting them to the
# DIB's bytes, side by side with zlib's raw inflate of the same IDAT data alone (the floor),
# libpng's simplified API, libspng (as it is and without its checksum checks) and stb_image,
# all in one run per image. Native x86_64. By default: the shipped logo, the logo flattened
# to RGB and a 1024 x 768 RGBA image, the last two made from the logo (bench/png).
# Usage: scripts/bench-png.sh [file.png ...]   (KALNIX_BENCH_BUILD: build folder)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KALNIX_BENCH_BUILD:-build-png-bench}

cmake -S bench/png -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2 >/dev/null
if [ $# -eq 0 ]; then
  mkdir -p "$build/images"
  "$build/png_bench_images" res/logo.png "$build/images" >/dev/null
  set -- res/logo.png "$build/images/logo-rgb.png" "$build/images/splash-rgba.png"
fi

columns=()
for image in "$@"; do
  name=$(basename "$image" .png)
  out=$build/callgrind-$name.out
  valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
    --toggle-collect='Measure*' "$build/png_bench" "$image" 2>"$build/valgrind-$name.log"
  callgrind_annotate --inclusive=yes "$out" >"$out.txt" 2>/dev/null
  columns+=("$name=$out.txt")
done
python3 bench/png/callgrind_table.py "${columns[@]}"
