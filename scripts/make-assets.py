#!/usr/bin/env python3
"""Draws Lookout's icons and synthesises its notice sounds.

Standard library only, and deterministic: every run writes the same bytes.
Run from anywhere:  python3 scripts/make-assets.py

Writes, relative to the repository root:
  icons/lookout.png        tray icon, nothing new
  icons/lookout_info.png   tray icon, something changed (same eye plus a badge)
  icons/quit.png           menu icon for "Quit"
  icons/about.png          menu icon for "About"
  wav/info.wav             soft single tone: someone left or moved
  wav/importantinfo.wav    rising three-note chime: a watched player appeared
"""

import math
import os
import struct
import wave
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

SIZE = 64  # icons are drawn at 64x64; Qt scales them down for tray and menus
SUB = 4    # 4x4 samples per pixel give the edge coverage (antialiasing)


# --- PNG --------------------------------------------------------------------

def write_png(path, pixels):
    """pixels: SIZE rows of SIZE (r, g, b, a) byte tuples; 8-bit RGBA, no interlace."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in pixels)
    ihdr = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# --- shapes as signed distances (negative inside, in pixels) ------------------

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - width / 2


def line(x0, y0, x1, y1, width):
    """A stroke with round caps."""
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def d(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        return math.hypot(x - x0 - t * dx, y - y0 - t * dy) - width / 2
    return d


def arc(cx, cy, r, width, gap_centre, gap):
    """A ring stroke with round caps, open by `gap` degrees around `gap_centre`
    (degrees, 0 = right, 90 = up)."""
    half = math.radians(gap) / 2
    ends = [(cx + r * math.cos(a), cy - r * math.sin(a))
            for a in (math.radians(gap_centre) - half, math.radians(gap_centre) + half)]

    def d(x, y):
        a = math.atan2(-(y - cy), x - cx) - math.radians(gap_centre)
        a = (a + math.pi) % (2 * math.pi) - math.pi
        if abs(a) > half:
            return abs(math.hypot(x - cx, y - cy) - r) - width / 2
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - width / 2
    return d


def intersect(*shapes):
    return lambda x, y: max(s(x, y) for s in shapes)


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def grow(shape, by):
    return lambda x, y: shape(x, y) - by


# --- painting -----------------------------------------------------------------

def colour(hex_rgb):
    return tuple(int(hex_rgb[i:i + 2], 16) / 255 for i in (1, 3, 5))


def render(layers, knockout=None):
    """Paints (shape, "#rrggbb") layers back to front over transparency and
    returns PNG rows. Wherever `knockout` is inside, everything below the last
    layer is cleared, leaving a transparent gap around that last layer."""
    offsets = [(i + 0.5) / SUB for i in range(SUB)]
    rows = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            r = g = b = a = 0.0  # premultiplied
            samples = [(px + ox, py + oy) for oy in offsets for ox in offsets]
            for n, (shape, hex_rgb) in enumerate(layers):
                if knockout is not None and n == len(layers) - 1:
                    keep = sum(knockout(x, y) > 0 for x, y in samples) / len(samples)
                    r, g, b, a = r * keep, g * keep, b * keep, a * keep
                cover = sum(shape(x, y) <= 0 for x, y in samples) / len(samples)
                if cover:
                    cr, cg, cb = colour(hex_rgb)
                    r, g, b = (cr * cover + r * (1 - cover), cg * cover + g * (1 - cover),
                               cb * cover + b * (1 - cover))
                    a = cover + a * (1 - cover)
            if a > 0:
                row.append((round(r / a * 255), round(g / a * 255), round(b / a * 255), round(a * 255)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


# --- icons ----------------------------------------------------------------------

def eye():
    """A wide almond eye with a bold outline, a blue iris and a round pupil."""
    cx, cy = 32, 33
    # The almond is where two big circles overlap: 30 px half-width, 21 px half-height.
    r, c = 31.93, 10.93
    almond = intersect(circle(cx, cy - c, r), circle(cx, cy + c, r))
    white = grow(almond, -5)
    return [
        (almond, "#1d3a5c"),                       # outline
        (white, "#f4f8fb"),                        # white of the eye
        (intersect(circle(cx, cy, 14), white), "#2f7fc1"),  # iris
        (circle(cx, cy, 6.5), "#0f2236"),          # pupil
        (circle(cx + 4.5, cy - 4.5, 2.8), "#ffffff"),  # glint
    ]


def lookout_icon():
    return render(eye())


def lookout_info_icon():
    badge = circle(49, 14, 13.5)
    return render(eye() + [(badge, "#ff5a1f")], knockout=grow(badge, 3.5))


def quit_icon():
    power = union(arc(32, 34, 20, 9, 90, 80), line(32, 8, 32, 30, 9))
    return render([(power, "#d93025")])


def about_icon():
    disc = circle(32, 32, 30)
    i_mark = union(circle(32, 18, 5.5), line(32, 30, 32, 47, 10))
    return render([(disc, "#1d5a8f"), (grow(disc, -2.5), "#2f7fc1"), (i_mark, "#ffffff")])


# --- sounds ---------------------------------------------------------------------

RATE = 44100


def note(freq, seconds, decay):
    """A struck tone: a few harmonics, the higher ones fading faster, with a
    short raised-cosine attack so it starts without a click."""
    partials = [(1, 1.0), (2, 0.35), (3, 0.15), (4, 0.06)]
    attack = int(0.006 * RATE)
    out = []
    for n in range(int(seconds * RATE)):
        t = n / RATE
        v = sum(amp * math.exp(-t * k / decay) * math.sin(2 * math.pi * freq * k * t)
                for k, amp in partials)
        if n < attack:
            v *= 0.5 - 0.5 * math.cos(math.pi * n / attack)
        out.append(v)
    return out


def mix(total_seconds, parts):
    """parts: (start seconds, samples). Returns the sum, faded to zero at the end."""
    out = [0.0] * int(total_seconds * RATE)
    for start, samples in parts:
        first = int(start * RATE)
        for i, v in enumerate(samples[:len(out) - first]):
            out[first + i] += v
    fade = int(0.04 * RATE)
    for i in range(fade):
        out[-1 - i] *= 0.5 - 0.5 * math.cos(math.pi * i / fade)
    return out


# Silence after the sound. QSoundEffect on PulseAudio stops its stream as soon
# as it has handed over the last sample, dropping the ~150 ms the server still
# holds in its buffer; the tail it drops must be silence, not the sound.
TAIL_SECONDS = 0.3


def write_wav(path, samples, peak_db=-4.0):
    """16-bit signed PCM, mono, 44.1 kHz, normalised to peak_db dBFS, followed
    by TAIL_SECONDS of silence."""
    scale = 10 ** (peak_db / 20) * 32767 / max(abs(v) for v in samples)
    samples = samples + [0.0] * int(TAIL_SECONDS * RATE)
    data = struct.pack("<%dh" % len(samples), *(round(v * scale) for v in samples))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(data)


def info_sound():
    return mix(0.32, [(0.0, note(784.0, 0.32, 0.16))])       # G5


def important_sound():
    notes = [(0.00, 659.3), (0.12, 784.0), (0.24, 1046.5)]   # E5, G5, C6
    return mix(0.65, [(start, note(f, 0.65 - start, 0.2)) for start, f in notes])


# --- main -----------------------------------------------------------------------

def main():
    os.makedirs(os.path.join(ROOT, "icons"), exist_ok=True)
    os.makedirs(os.path.join(ROOT, "wav"), exist_ok=True)
    outputs = [
        ("icons/lookout.png", write_png, lookout_icon),
        ("icons/lookout_info.png", write_png, lookout_info_icon),
        ("icons/quit.png", write_png, quit_icon),
        ("icons/about.png", write_png, about_icon),
        ("wav/info.wav", write_wav, info_sound),
        ("wav/importantinfo.wav", write_wav, important_sound),
    ]
    for name, write, make in outputs:
        path = os.path.join(ROOT, name)
        write(path, make())
        print("wrote %s (%d bytes)" % (name, os.path.getsize(path)))


if __name__ == "__main__":
    main()
