#!/usr/bin/env bash
# Builds the logo decoder natively under ASan/UBSan and fuzzes it for a bounded time,
# seeded with the kinds of files the tests build and the shipped logo. Fails on any finding.
# Usage: scripts/fuzz-png.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build-png-native

compiler=()
if command -v clang++ >/dev/null; then compiler=(-DCMAKE_CXX_COMPILER=clang++); fi
cmake -S tests/image/native -B "$build" -G Ninja "${compiler[@]}" >/dev/null
cmake --build "$build" -j 2 --target png_make_seeds png_fuzz_driver \
  $(grep -q '^png_fuzzer:' <(ninja -C "$build" -t targets all 2>/dev/null) && echo png_fuzzer) >/dev/null

seeds=$build/fuzz-seeds
corpus=$build/fuzz-corpus
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus"
"$build/png_make_seeds" "$seeds"
cp res/logo.png "$seeds/logo.png"

log=$build/fuzz.log
if [ -x "$build/png_fuzzer" ]; then
  # -rss_limit_mb: a 64 MiB image plus the sanitizers' shadow stays far below it.
  if ! "$build/png_fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=200000 \
      -print_final_stats=1 "$corpus" "$seeds" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzzing found a fault (inputs: $build/crash-* or ./crash-*)"
    exit 1
  fi
  grep -E "INITED|DONE|stat::(number_of_executed_units|new_units_added|peak_rss)" "$log"
else
  echo "libFuzzer not available: running the mutation driver instead"
  timeout $((seconds + 60)) "$build/png_fuzz_driver" $((seconds * 15000)) 1 "$seeds"
fi
