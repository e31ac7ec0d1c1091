#!/usr/bin/env python3
"""Draws the application icon (resource 103) and writes it as tovral.ico.

The picture: a rounded teal tile with a white "V" standing on an orange bus line with
three node taps. Both sizes are rendered from the same shapes (4x4 supersampling), as
32-bit images with an AND mask. Run it again after changing the shapes:

    python3 resources/make_icon.py resources/tovral.ico
"""
import struct
import sys

TEAL = (0x1F, 0x6F, 0x78)
WHITE = (0xFF, 0xFF, 0xFF)
ORANGE = (0xF2, 0x8C, 0x28)


def inside_tile(x, y):
    # Rounded square over the unit square, corner radius 0.18.
    r = 0.18
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and 0 <= x <= 1 and 0 <= y <= 1


def dist_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    qx, qy = ax + t * dx, ay + t * dy
    return ((px - qx) ** 2 + (py - qy) ** 2) ** 0.5


def colour_at(x, y):
    """Colour of the picture at (x, y) in the unit square, or None outside it."""
    if not inside_tile(x, y):
        return None
    # Bus line and its three taps.
    if 0.72 <= y <= 0.80 and 0.10 <= x <= 0.90:
        return ORANGE
    for tap in (0.25, 0.50, 0.75):
        if abs(x - tap) <= 0.045 and 0.80 <= y <= 0.90:
            return ORANGE
    # The "V": two strokes meeting just above the bus line.
    if y <= 0.70 and (dist_to_segment(x, y, 0.24, 0.16, 0.50, 0.66) <= 0.075
                      or dist_to_segment(x, y, 0.76, 0.16, 0.50, 0.66) <= 0.075):
        return WHITE
    return TEAL


def render(size):
    """Rows bottom-up as BGRA bytes, and the AND mask rows bottom-up."""
    samples = 4
    pixels = []
    mask_rows = []
    for row in range(size - 1, -1, -1):
        line = bytearray()
        mask_bits = []
        for col in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (col + (sx + 0.5) / samples) / size
                    y = (row + (sy + 0.5) / samples) / size
                    c = colour_at(x, y)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits:
                r, g, b = (acc[i] // hits for i in range(3))
                alpha = 255 * hits // (samples * samples)
            else:
                r = g = b = alpha = 0
            line += bytes((b, g, r, alpha))
            mask_bits.append(0 if alpha else 1)
        pixels.append(bytes(line))
        # AND mask: one bit a pixel, rows padded to 32 bits.
        mask = bytearray((size + 31) // 32 * 4)
        for col, bit in enumerate(mask_bits):
            if bit:
                mask[col // 8] |= 0x80 >> (col % 8)
        mask_rows.append(bytes(mask))
    return b"".join(pixels), b"".join(mask_rows)


def icon_image(size):
    xor, mask = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "tovral.ico"
    images = [icon_image(32), icon_image(16)]
    sizes = [32, 16]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
