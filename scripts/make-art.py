#!/usr/bin/env python3
"""Draws Kalnix's artwork: res/logo.png, the application icon res/kalnix.ico and the tray icons
res/tray_{enabled,disabled}{,_light,_contrast}.ico. Pure Python 3 with zlib; every shape is a
signed distance field rasterised here with analytic anti-aliasing, so the output is the same on
every machine.

Every icon carries one 32-bit image for each size the notification area asks for at 100 to
400 % display scale (16, 20, 24, 32, 40, 48 and 64 pixels), drawn at that size rather than
scaled; the application icon also carries a 256-pixel PNG image for Explorer's large views.
The tray icons hold PNG images only.
The tray icons come in three looks: for a dark taskbar (Windows' default; the plain files), for
a light one (_light) and for high contrast (_contrast, black and white only).

Usage: scripts/make-art.py [output-dir]   (default: res/ beside this script's parent)
"""
import math
import os
import struct
import sys
import zlib

from art_canvas import Canvas, clamp01, crisp, hexc, mix, sd_arc, sd_circle, sd_round_rect, sd_segment, soft

# ---------------------------------------------------------------------------- the emblem

NAVY_TOP = hexc("#3A6FB8")
NAVY_BOTTOM = hexc("#13294F")
MOON = hexc("#F6D365")
MOON_EDGE = hexc("#E9A83A")
LID = hexc("#E3E8EF")
BASE = hexc("#A9B6C8")
SHADOW = (0.03, 0.06, 0.12)


def grey(c):
    v = 0.30 * c[0] + 0.59 * c[1] + 0.11 * c[2]
    return (v, v, v)


def draw_emblem(cv, cx, cy, r, detail=True, colours=True, slash=False, shadow=True):
    """A night-blue disc with a crescent moon over a closed laptop: the lid shut, asleep."""
    tone = (lambda c: c) if colours else grey
    s = r / 78.0
    box = (cx - r - 12 * s, cy - r - 12 * s, cx + r + 12 * s, cy + r + 16 * s)
    if shadow:
        cv.paint(box, lambda x, y: 0.45 * soft(sd_circle(x, y, cx, cy + 4 * s, r), 10 * s),
                 lambda x, y: SHADOW)
    top, bottom = tone(NAVY_TOP), tone(NAVY_BOTTOM)
    cv.paint(box, lambda x, y: crisp(sd_circle(x, y, cx, cy, r)),
             lambda x, y: mix(top, bottom, clamp01((y - (cy - r)) / (2 * r))))
    # A faint rim of light along the disc's upper edge.
    cv.paint(box, lambda x, y: 0.35 * crisp(abs(sd_circle(x, y, cx, cy, r - 2.5 * s)) - 1.0 * s)
             * clamp01((cy - y) / r + 0.2), lambda x, y: (1, 1, 1))
    mx, my, mr = cx + 16 * s, cy - 26 * s, 27 * s
    moon_box = (mx - mr - 16 * s, my - mr - 16 * s, mx + mr + 16 * s, my + mr + 16 * s)
    moon_hi, moon_lo = tone(MOON), tone(MOON_EDGE)

    def moon_cov(x, y):
        return crisp(sd_circle(x, y, mx, my, mr)) * (1 - crisp(sd_circle(x, y, mx + 13 * s, my - 9 * s, mr * 0.84)))

    if detail:
        cv.paint(moon_box, lambda x, y: 0.22 * soft(sd_circle(x, y, mx, my, mr), 14 * s)
                 * (1 - crisp(sd_circle(x, y, mx + 13 * s, my - 9 * s, mr * 0.84))),
                 lambda x, y: moon_hi)
    cv.paint(moon_box, moon_cov, lambda x, y: mix(moon_hi, moon_lo, clamp01((x - mx + mr) / (2 * mr))))
    if detail:
        for sx, sy, sr in ((-40, -30, 2.6), (-22, -50, 1.8), (-52, 4, 1.7), (40, 12, 2.0), (-12, -14, 1.4)):
            px, py = cx + sx * s, cy + sy * s
            cv.paint((px - 6, py - 6, px + 6, py + 6),
                     lambda x, y, px=px, py=py, sr=sr: crisp(sd_circle(x, y, px, py, sr * s)),
                     lambda x, y: (1, 1, 0.92))
    # The closed laptop: lid over a slightly wider base.
    lid, base = tone(LID), tone(BASE)
    ly = cy + 30 * s
    cv.paint((cx - 50 * s, ly - 10 * s, cx + 50 * s, ly + 24 * s),
             lambda x, y: crisp(sd_round_rect(x, y, cx, ly + 10 * s, 96 * s, 9 * s, 3.5 * s)),
             lambda x, y: base)
    cv.paint((cx - 50 * s, ly - 10 * s, cx + 50 * s, ly + 24 * s),
             lambda x, y: crisp(sd_round_rect(x, y, cx, ly, 84 * s, 11 * s, 4 * s)),
             lambda x, y: mix(lid, base, clamp01((y - ly + 5.5 * s) / (14 * s))))
    if slash:
        red = hexc("#C0392B")
        half = max(1.1, 7 * s)
        ax, ay, bx, by = cx - 0.62 * r, cy - 0.62 * r, cx + 0.62 * r, cy + 0.62 * r
        cv.paint(box, lambda x, y: crisp(sd_segment(x, y, ax, ay, bx, by, half + 1.0)),
                 lambda x, y: (1, 1, 1))
        cv.paint(box, lambda x, y: crisp(sd_segment(x, y, ax, ay, bx, by, half)), lambda x, y: red)

# ---------------------------------------------------------------------------- the word

def word_strokes(x0, base, xh, asc, half):
    """'Kalnix' as strokes (segments, arcs, dots) of a geometric face; returns (strokes, right edge)."""
    r = xh / 2 - half            # bowl radius at the stroke's centre
    top = base - xh + half       # centre line of a stroke touching the x-height
    bot = base - half
    strokes = []
    x = x0 + half
    # K
    kw = asc * 0.42
    jx, jy = x + kw * 0.33, base - asc * 0.36 - (asc - half) * 0.12
    strokes += [("seg", x, base - asc + half, x, bot),
                ("seg", x + 1, base - asc * 0.36, x + kw, base - asc + half),
                ("seg", jx, jy, x + kw + 1, bot)]
    x += kw + 2 * half + 6
    # a
    cx = x + r
    strokes += [("arc", cx, base - xh / 2, r, 0, 2 * math.pi), ("seg", cx + r, top, cx + r, bot)]
    x = cx + r + 2 * half + 6
    # l
    strokes += [("seg", x, base - asc + half, x, bot)]
    x += 2 * half + 6
    # n
    strokes += [("seg", x, top, x, bot),
                ("arc", x + r, base - xh / 2, r, math.pi, 2 * math.pi),
                ("seg", x + 2 * r, base - xh / 2, x + 2 * r, bot)]
    x += 2 * r + 2 * half + 6
    # i, its dot a little moon of its own
    strokes += [("seg", x, top, x, bot), ("dot", x, base - asc + half * 1.4, half * 1.25)]
    x += 2 * half + 6
    # x
    w = xh * 0.82
    strokes += [("seg", x, top, x + w, bot), ("seg", x + w, top, x, bot)]
    return strokes, x + w + half


def sd_strokes(strokes, px, py, half, kinds=("seg", "arc")):
    d = 1e9
    for s in strokes:
        if s[0] not in kinds:
            continue
        if s[0] == "seg":
            d = min(d, sd_segment(px, py, s[1], s[2], s[3], s[4], half))
        elif s[0] == "arc":
            d = min(d, sd_arc(px, py, s[1], s[2], s[3], s[4], s[5], half))
        elif s[0] == "dot":
            d = min(d, sd_circle(px, py, s[1], s[2], s[3]))
    return d


def draw_word(cv, x0, base):
    xh, asc, half = 40.0, 66.0, 5.5
    strokes, right = word_strokes(x0, base, xh, asc, half)
    box = (x0 - 14, base - asc - 14, right + 14, base + 18)
    ink_top, ink_bottom = hexc("#2B5797"), hexc("#132848")
    cv.paint(box, lambda x, y: 0.38 * soft(sd_strokes(strokes, x, y - 3, half), 7),
             lambda x, y: SHADOW)
    cv.paint(box, lambda x, y: crisp(sd_strokes(strokes, x, y, half)),
             lambda x, y: mix(ink_top, ink_bottom, clamp01((y - (base - asc)) / asc)))
    dots = [s for s in strokes if s[0] == "dot"]
    cv.paint(box, lambda x, y: 0.3 * soft(sd_strokes(dots, x, y, half, ("dot",)), 6),
             lambda x, y: MOON)
    cv.paint(box, lambda x, y: crisp(sd_strokes(dots, x, y, half, ("dot",))),
             lambda x, y: mix(MOON, MOON_EDGE, clamp01((x - dots[0][1] + 8) / 16)))
    return right

# ---------------------------------------------------------------------------- PNG writer

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def filter_row(kind, cur, prev, bpp):
    out = bytearray(len(cur))
    for i, v in enumerate(cur):
        a = cur[i - bpp] if i >= bpp else 0
        b = prev[i]
        c = prev[i - bpp] if i >= bpp else 0
        if kind == 1:
            pred = a
        elif kind == 2:
            pred = b
        else:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            pred = a if pa <= pb and pa <= pc else b if pb <= pc else c
        out[i] = (v - pred) & 0xFF
    return bytes(out)


def choose_filters(rows, bpp):
    """Per row: Sub on the first row (nothing above it), then the filter whose output has the
    smallest sum of magnitudes, the usual predictor of deflate's success. Ties, and Paeth
    unless it saves a clear 10 %, go to the cheaper filters to reconstruct (Up, then Sub)."""
    prev = bytes(len(rows[0]))
    out = []
    for y, row in enumerate(rows):
        if y == 0:
            kinds = [1]
        else:
            kinds = [2, 1, 4]
        scored = []
        for k in kinds:
            f = filter_row(k, row, prev, bpp)
            cost = sum(v if v < 128 else 256 - v for v in f)
            if k == 4:
                cost = cost * 1.10 + 64
            scored.append((cost, kinds.index(k), k, f))
        _, _, k, f = min(scored)
        out.append((k, f))
        prev = row
    return out


def icc_profile():
    """A small ICC v2 display profile: sRGB primaries adapted to D50, gamma 2.2 curves."""
    def s15(v):
        return struct.pack(">i", int(round(v * 65536)))

    def xyz(x, y, z):
        return b"XYZ " + bytes(4) + s15(x) + s15(y) + s15(z)

    def desc(text):
        t = text.encode("ascii") + b"\0"
        return b"desc" + bytes(4) + struct.pack(">I", len(t)) + t + bytes(4 + 4 + 2 + 1 + 67)

    curve = b"curv" + bytes(4) + struct.pack(">I", 1) + struct.pack(">H", int(2.2 * 256)) + bytes(2)
    tags = [
        (b"desc", desc("Kalnix sRGB-like")),
        (b"cprt", b"text" + bytes(4) + b"No copyright, use freely\0"),
        (b"wtpt", xyz(0.9642, 1.0, 0.8249)),
        (b"rXYZ", xyz(0.4361, 0.2225, 0.0139)),
        (b"gXYZ", xyz(0.3851, 0.7169, 0.0971)),
        (b"bXYZ", xyz(0.1431, 0.0606, 0.7141)),
        (b"rTRC", curve), (b"gTRC", curve), (b"bTRC", curve),
    ]
    offset = 128 + 4 + 12 * len(tags)
    table, body = b"", b""
    for sig, data in tags:
        while len(data) % 4:
            data += b"\0"
        table += sig + struct.pack(">II", offset + len(body), len(data))
        body += data
    size = offset + len(body)
    header = (struct.pack(">I", size) + b"none" + struct.pack(">I", 0x02100000) + b"mntr" + b"RGB " + b"XYZ "
              + bytes(12) + b"acsp" + b"APPL" + bytes(4) + b"none" + b"none" + bytes(8)
              + struct.pack(">I", 0) + s15(0.9642) + s15(1.0) + s15(0.8249) + b"none" + bytes(44))
    assert len(header) == 128
    return header + struct.pack(">I", len(tags)) + table + body


def filtered_idat(rows):
    filtered = choose_filters(rows, 4)
    raw = b"".join(bytes([k]) + f for k, f in filtered)
    return zlib.compress(raw, 9), [k for k, _ in filtered]


def write_logo(path, cv):
    idat, kinds = filtered_idat(cv.bytes_rgba())
    assert kinds[0] == 1 and {1, 2, 4} <= set(kinds), kinds
    assert len(idat) <= 131072, len(idat)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", cv.w, cv.h, 8, 6, 0, 0, 0))
    png += chunk(b"iCCP", b"Kalnix sRGB-like\0\0" + zlib.compress(icc_profile(), 9))
    png += chunk(b"cHRM", struct.pack(">8I", 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000))
    png += chunk(b"pHYs", struct.pack(">IIB", 3780, 3780, 1))
    png += chunk(b"IDAT", idat)
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)
    counts = {k: kinds.count(k) for k in sorted(set(kinds))}
    print(f"{path}: {cv.w}x{cv.h}, IDAT {len(idat)} bytes, row filters {counts}")

# ---------------------------------------------------------------------------- icons

def icon_image(size, pixels):
    """One 32-bit ICO image: BITMAPINFOHEADER, BGRA rows bottom-up and the AND mask (set where
    the image is fully transparent, for the few callers that still look at it)."""
    mask_bytes = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        bits = bytearray(mask_bytes)
        for x in range(size):
            r, g, b, a = pixels[y * size + x]
            xor += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def png_image(size, pixels):
    """A PNG file of a square RGBA image, as an icon directory holds its 256-pixel image."""
    rows = [b"".join(bytes(px) for px in pixels[y * size:(y + 1) * size]) for y in range(size)]
    idat, _ = filtered_idat(rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", idat) + chunk(b"IEND", b""))


def write_icon(path, images, png=False):
    """images: list of (size, rgba pixels), all 32-bit; a 256-pixel image, or with `png` every
    image, is stored as PNG (a quarter of the bytes, which Windows reads since Vista)."""
    entries, blobs = b"", b""
    offset = 6 + 16 * len(images)
    for size, pixels in images:
        blob = png_image(size, pixels) if png or size == 256 else icon_image(size, pixels)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset + len(blobs))
        blobs += blob
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + entries + blobs)
    print(f"{path}: " + ", ".join(f"{s}px" for s, _ in images) + ", 32 bpp")


# What the notification area asks for at 100, 125, 150, 200, 250, 300 and 400 % display scale
# (SM_CXSMICON); the application icon's window and Explorer sizes are among them.
ICON_SIZES = (16, 20, 24, 32, 40, 48, 64)
# A light rim keeps the night-blue disc apart from a dark taskbar.
RIM = hexc("#E4EBF5")


def rim_width(r):
    return max(1.0, 0.1 * r)


def draw_plain_emblem(cv, cx, cy, r, slash=False):
    """High contrast: black and white only, no gradient, no shadow. A black disc ringed in
    white stands out on a black taskbar by its ring and on a white one by its disc."""
    box = (cx - r - 2, cy - r - 2, cx + r + 2, cy + r + 2)
    white, black = (1.0, 1.0, 1.0), (0.0, 0.0, 0.0)
    ring = rim_width(r) * 1.2
    cv.paint(box, lambda x, y: crisp(sd_circle(x, y, cx, cy, r)), lambda x, y: white)
    cv.paint(box, lambda x, y: crisp(sd_circle(x, y, cx, cy, r - ring)), lambda x, y: black)
    s = (r - ring) / 78.0
    mx, my, mr = cx + 16 * s, cy - 26 * s, 27 * s
    cv.paint(box, lambda x, y: crisp(sd_circle(x, y, mx, my, mr))
             * (1 - crisp(sd_circle(x, y, mx + 13 * s, my - 9 * s, mr * 0.84))), lambda x, y: white)
    ly = cy + 30 * s
    cv.paint(box, lambda x, y: crisp(sd_round_rect(x, y, cx, ly + 10 * s, 96 * s, 9 * s, 3.5 * s)),
             lambda x, y: white)
    cv.paint(box, lambda x, y: crisp(sd_round_rect(x, y, cx, ly, 84 * s, 11 * s, 4 * s)), lambda x, y: white)
    if slash:
        half = max(1.1, 7 * s)
        ax, ay, bx, by = cx - 0.62 * r, cy - 0.62 * r, cx + 0.62 * r, cy + 0.62 * r
        cv.paint(box, lambda x, y: crisp(sd_segment(x, y, ax, ay, bx, by, half + 1.0)), lambda x, y: black)
        cv.paint(box, lambda x, y: crisp(sd_segment(x, y, ax, ay, bx, by, half)), lambda x, y: white)


def emblem_pixels(size, look="light", **style):
    """The emblem at one size for one look: "light" (the art as it is), "dark" (ringed in a
    light rim) or "contrast" (black and white)."""
    cv = Canvas(size, size)
    r = size / 2 - (0.5 if size <= 16 else 1.0)
    c = size / 2
    if look == "contrast":
        draw_plain_emblem(cv, c, c, r, slash=style.get("slash", False))
    else:
        if look == "dark":
            cv.paint((0, 0, size, size), lambda x, y: crisp(sd_circle(x, y, c, c, r)), lambda x, y: RIM)
            r -= rim_width(r)
        draw_emblem(cv, c, c, r, detail=size >= 32, shadow=False, **style)
    return [tuple(px) for row in cv.bytes_rgba() for px in zip(*[iter(row)] * 4)]

# ---------------------------------------------------------------------------- main

def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "res")
    cv = Canvas(401, 197)
    draw_emblem(cv, 86, 96, 72)
    right = draw_word(cv, 180, 127)
    print(f"word ends at x = {right:.1f}")
    write_logo(os.path.join(out, "logo.png"), cv)

    app = [(size, emblem_pixels(size)) for size in ICON_SIZES + (256,)]
    write_icon(os.path.join(out, "kalnix.ico"), app)
    disabled = {"colours": False, "slash": True}
    for suffix, look in (("", "dark"), ("_light", "light"), ("_contrast", "contrast")):
        for state, style in (("enabled", {}), ("disabled", disabled)):
            images = [(size, emblem_pixels(size, look, **style)) for size in ICON_SIZES]
            # Only Kalnix.exe reads these: PNG keeps its resources (which Wine copies into every
            # running instance's memory) small. The application icon stays as most tools read it.
            write_icon(os.path.join(out, f"tray_{state}{suffix}.ico"), images, png=True)


if __name__ == "__main__":
    main()
