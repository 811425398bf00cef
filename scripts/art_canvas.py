"""The drawing helpers of scripts/make-art.py: signed distance fields of the shapes, the
coverage of a pixel at a distance, colours, and the canvas they are painted on."""
import math

# ---------------------------------------------------------------------------- geometry

def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def sd_circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def sd_segment(px, py, ax, ay, bx, by, half):
    """Capsule: segment a-b drawn with round caps, half the stroke width."""
    dx, dy = bx - ax, by - ay
    t = clamp01(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy))
    return math.hypot(px - ax - t * dx, py - ay - t * dy) - half


def sd_arc(px, py, cx, cy, r, a0, a1, half):
    """Stroke along a circle from angle a0 to a1 (radians, y down), round ends."""
    ang = math.atan2(py - cy, px - cx)
    span = a1 - a0
    if span >= 2 * math.pi or (ang - a0) % (2 * math.pi) <= span:
        return abs(math.hypot(px - cx, py - cy) - r) - half
    ends = [(cx + r * math.cos(a), cy + r * math.sin(a)) for a in (a0, a1)]
    return min(math.hypot(px - ex, py - ey) for ex, ey in ends) - half


def sd_round_rect(px, py, cx, cy, w, h, r):
    qx = abs(px - cx) - (w / 2 - r)
    qy = abs(py - cy) - (h / 2 - r)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def crisp(d, scale=1.0):
    """Coverage of a pixel whose centre lies at signed distance d (in pixels)."""
    return clamp01(0.5 - d * scale)


def soft(d, radius):
    """A soft edge fading over `radius` pixels outside the shape."""
    t = clamp01(1.0 - d / radius) if d > 0 else 1.0
    return t * t * (3 - 2 * t)


def mix(c0, c1, t):
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def hexc(s):
    return tuple(int(s[i:i + 2], 16) / 255.0 for i in (1, 3, 5))

# ---------------------------------------------------------------------------- canvas

class Canvas:
    """Straight (not premultiplied) RGBA floats, composited with 'over'."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * w for _ in range(h)]

    def paint(self, box, coverage, colour):
        """coverage(x, y) -> 0..1 and colour(x, y) -> (r, g, b) at pixel centres, inside box."""
        x0, y0, x1, y1 = box
        for y in range(max(0, int(y0)), min(self.h, int(math.ceil(y1)))):
            row = self.px[y]
            py = y + 0.5
            for x in range(max(0, int(x0)), min(self.w, int(math.ceil(x1)))):
                px = x + 0.5
                a = coverage(px, py)
                if a <= 0.0:
                    continue
                r, g, b = colour(px, py)
                dr, dg, db, da = row[x]
                oa = a + da * (1 - a)
                k = da * (1 - a)
                row[x] = ((r * a + dr * k) / oa, (g * a + dg * k) / oa, (b * a + db * k) / oa, oa)

    def bytes_rgba(self):
        out = []
        for row in self.px:
            line = bytearray()
            for r, g, b, a in row:
                line += bytes(int(round(clamp01(v) * 255)) for v in (r, g, b, a))
            out.append(bytes(line))
        return out
