#!/usr/bin/env python3
"""Prints the bench table from callgrind_annotate --inclusive=yes outputs, one per image.
Usage: callgrind_table.py name=annotated.txt ...   (the first column is the first image)"""
import re
import sys

NAMES = [("MeasureFloor", "zlib raw inflate alone (floor)"),
         ("MeasureKalnix", "Kalnix: DecodePng + DIB bytes"),
         ("MeasureLibpng", "Debian libpng, simplified API, RGBA"),
         ("MeasureSpng", "Debian libspng, RGBA8"),
         ("MeasureSpngUnchecked", "Debian libspng, no Adler-32/CRC checks"),
         ("MeasureStb", "stb_image (Debian), 4 channels")]


def read_counts(path):
    counts = {}
    with open(path) as annotated:
        for line in annotated:
            m = re.match(r"\s*([\d,]+)\s+(?:\([^)]*\)\s+)?(?:\S*:)?(Measure\w+)\b", line)
            if m and m.group(2) not in counts:
                counts[m.group(2)] = int(m.group(1).replace(",", ""))
    return counts


images = [arg.split("=", 1) for arg in sys.argv[1:]]
columns = [(name, read_counts(path)) for name, path in images]
missing = False
print()
print(f"{'instructions (x floor)':40}" + "".join(f" {name:>22}" for name, _ in columns))
for key, label in NAMES:
    cells = []
    for _, counts in columns:
        n, floor = counts.get(key), counts.get("MeasureFloor")
        if n and floor:
            cells.append(f"{n:,} ({n / floor:.2f})")
        else:
            cells.append("missing")
            missing = True
    print(f"{label:40}" + "".join(f" {cell:>22}" for cell in cells))
sys.exit(1 if missing else 0)
