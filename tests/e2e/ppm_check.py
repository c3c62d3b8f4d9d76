#!/usr/bin/env python3
"""Pixel checks on the PPM crops that xwin_tool saves, for the end-to-end tests.

  walls A.ppm B.ppm    the (125,125,125) minimap wall pixels of A and B are the same set
  ink FILE.ppm         prints "count x0 x1": red text pixels and their column extent
Exit status 0 when the check holds, 1 when it does not (with the reason on stderr).
"""
import sys


class Image:
    def __init__(self, path):
        magic, size, depth, self.body = open(path, "rb").read().split(b"\n", 3)
        if magic != b"P6" or depth != b"255":
            raise SystemExit(f"{path}: not a PPM written by xwin_tool")
        self.w, self.h = map(int, size.split())

    def px(self, x, y):
        i = 3 * (y * self.w + x)
        return tuple(self.body[i:i + 3])

    def where(self, test):
        return {(x, y) for x in range(self.w) for y in range(self.h) if test(self.px(x, y))}


def red(p):  # antialiased red text on grey: red clearly above both other channels
    return p[0] >= p[1] + 60 and p[0] >= p[2] + 60


def fail(message):
    sys.exit("ppm_check: " + message)


def walls(a, b):
    wa, wb = (Image(p).where(lambda p: p == (125, 125, 125)) for p in (a, b))
    print(f"wall pixels: {len(wa)} and {len(wb)}, {len(wa ^ wb)} in only one of them")
    if len(wa) < 100:
        fail("too few wall pixels to compare")
    if wa != wb:
        sys.exit(1)


def ink(path):
    pts = Image(path).where(red)
    cols = sorted({x for x, _ in pts}) or [-1]
    print(len(pts), cols[0], cols[-1])


if __name__ == "__main__":
    checks = {"walls": (walls, 2), "ink": (ink, 1)}
    if len(sys.argv) < 2 or checks.get(sys.argv[1], (0, -1))[1] != len(sys.argv) - 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    checks[sys.argv[1]][0](*sys.argv[2:])
