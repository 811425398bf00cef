#!/usr/bin/env python3
"""Reads callgrind_annotate --inclusive=yes output and prints the bench table."""
import re
import sys

NAMES = [("MeasureFloor", "zlib raw inflate alone (floor)"),
         ("MeasureKalnix", "Kalnix: DecodePng + DIB bytes"),
         ("MeasureLibpng", "libpng simplified API, RGBA"),
         ("MeasureSpng", "libspng, RGBA8"),
         ("MeasureStb", "stb_image, 4 channels")]

counts = {}
for line in sys.stdin:
    m = re.match(r"\s*([\d,]+)\s+(?:\([^)]*\)\s+)?(?:\S*:)?(Measure\w+)\b", line)
    if m and m.group(2) not in counts:
        counts[m.group(2)] = int(m.group(1).replace(",", ""))
floor = counts.get("MeasureFloor")
print()
print(f"{'decoder':38} {'instructions':>14} {'x floor':>8}")
for key, label in NAMES:
    n = counts.get(key)
    if n and floor:
        print(f"{label:38} {n:>14,} {n / floor:>8.2f}")
    else:
        print(f"{label:38} {'missing':>14}")
    if not n:
        sys.exit(1)
