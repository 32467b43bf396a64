#!/usr/bin/env python3
"""Draws the program's icon: a light gear on a blue disc, 48x48 at 24 bits.

Writes two files next to this script:
  Skelvin_Patch_eng.ico  the icon file (one image)
  icon-48x48x24.dib      that image alone (BITMAPINFOHEADER, XOR bits, AND
                         mask; 7336 bytes) for the resource script, which
                         stores it as icon resource 30001 under its own group.
Usage: python3 draw_icon.py
"""
import math
import os
import struct

SIZE = 48
BITS = 24
SAMPLES = 4  # supersampling per axis

DISC = (0x1F, 0x4E, 0x9A)      # RGB
DISC_RIM = (0x12, 0x2E, 0x5C)
GEAR = (0xF2, 0xC1, 0x3A)
GEAR_EDGE = (0x8A, 0x62, 0x0C)


def gear_radius(angle):
    """Outer edge of the gear at an angle: 8 teeth with sloped flanks."""
    teeth = 8
    phase = (angle * teeth / (2 * math.pi)) % 1.0
    root, tip = 13.0, 17.5
    if phase < 0.35:
        return tip
    if phase < 0.5:
        return tip - (tip - root) * (phase - 0.35) / 0.15
    if phase < 0.85:
        return root
    return root + (tip - root) * (phase - 0.85) / 0.15


def sample(x, y):
    """Colour and opacity of one sub-sample; None when outside the icon."""
    cx = cy = SIZE / 2.0
    dx, dy = x - cx, y - cy
    r = math.hypot(dx, dy)
    if r > 23.5:
        return None
    angle = math.atan2(dy, dx)
    g = gear_radius(angle)
    if 5.0 <= r <= g:
        edge = min(r - 5.0, g - r)
        return GEAR_EDGE if edge < 1.0 else GEAR
    if r > 22.0:
        return DISC_RIM
    # A soft highlight on the upper left of the disc.
    light = max(0.0, 1.0 - math.hypot(x - 16, y - 14) / 26.0)
    return tuple(min(255, int(c + 70 * light)) for c in DISC)


def render():
    pixels = []  # rows top to bottom of (rgb, opaque)
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = sample(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            opaque = hits * 2 >= SAMPLES * SAMPLES
            rgb = tuple(v // hits for v in acc) if hits else (0, 0, 0)
            row.append((rgb if opaque else (0, 0, 0), opaque))
        pixels.append(row)
    return pixels


def dib(pixels):
    xor_stride = (SIZE * 3 + 3) // 4 * 4
    and_stride = (SIZE + 31) // 32 * 4
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, BITS, 0,
                         (xor_stride + and_stride) * SIZE, 0, 0, 0, 0)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray()
        for (r, g, b), _ in row:
            line += bytes((b, g, r))
        xor += line.ljust(xor_stride, b'\0')
        bits = bytearray(and_stride)
        for i, (_, opaque) in enumerate(row):
            if not opaque:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    image = dib(render())
    assert len(image) == 7336, len(image)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, BITS, len(image), 6 + 16)
    with open(os.path.join(here, 'Skelvin_Patch_eng.ico'), 'wb') as f:
        f.write(directory + entry + image)
    with open(os.path.join(here, 'icon-48x48x24.dib'), 'wb') as f:
        f.write(image)


if __name__ == '__main__':
    main()
