#!/usr/bin/env python3
"""Pixel checks on the PPM crops that xwin_tool saves, for the end-to-end tests.

  walls A.ppm B.ppm    the (125,125,125) minimap wall pixels of A and B are the same set
  ink FILE.ppm         prints "count x0 x1": red text pixels and their column extent
  scores HB HA GB GA   the score strips before/after a round on the host and the guest are
                       mirrored: the host's "Other scores" digit and the guest's "Your score"
                       digit changed, and to the same glyph
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

    def where(self, test, cols=None):
        return {(x, y) for x in (range(self.w) if cols is None else cols) for y in range(self.h) if test(self.px(x, y))}


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


def glyph(img, cols):
    """The red text pixels within the columns, moved to their bounding box's corner."""
    pts = img.where(red, cols)
    mx, my = min((x for x, _ in pts), default=0), min((y for _, y in pts), default=0)
    return frozenset((x - mx, y - my) for x, y in pts)


def similarity(a, b):
    """Best overlap (intersection over union) of two glyph masks over shifts of one pixel."""
    shifts = [{(x + dx, y + dy) for x, y in b} for dx in (-1, 0, 1) for dy in (-1, 0, 1)]
    return max(len(a & s) / len(a | s) for s in shifts) if a and b else 0.0


def scores(hb, ha, gb, ga):
    hb, ha, gb, ga = (Image(p) for p in (hb, ha, gb, ga))
    if len({(i.w, i.h) for i in (hb, ha, gb, ga)}) != 1 or hb.body != gb.body:
        fail("the score strips differed before the round, when both sides had the same scores")
    text = sorted({x for x, _ in hb.where(red)})
    if len(text) < 50:
        fail(f"the score strip shows almost no red text ({len(text)} columns)")
    x0, span = text[0], text[-1] - text[0]
    changed = [[x for x in range(a.w) if any(a.px(x, y) != b.px(x, y) for y in range(a.h))] for a, b in ((hb, ha), (gb, ga))]
    hc, gc = changed
    print(f"score text columns {x0}-{text[-1]}; changed columns: host {hc[:1] + hc[-1:]}, guest {gc[:1] + gc[-1:]}")
    if not hc or not gc:
        fail("a score strip did not change over the round")
    # "Other scores:D" ends the line; "Your score:K" ends just before the '|' in the middle.
    if hc[0] < x0 + span * 3 // 4:
        fail(f"the host's strip changed at column {hc[0]}, left of its 'Other scores' digit")
    if gc[0] < x0 + span // 4 or gc[-1] >= x0 + span // 2:
        fail(f"the guest's strip changed in columns {gc[0]}-{gc[-1]}, not only at its 'Your score' digit")
    if hc[-1] - hc[0] > span // 8 or gc[-1] - gc[0] > span // 8:
        fail("more than one glyph changed on a side")
    h_new, g_new, h_old, g_old = glyph(ha, hc), glyph(ga, gc), glyph(hb, hc), glyph(gb, gc)
    same_new, same_old, across = similarity(h_new, g_new), similarity(h_old, g_old), similarity(h_new, h_old)
    print(f"glyph overlap: new host/guest {same_new:.2f}, old host/guest {same_old:.2f}, host old/new {across:.2f}")
    if same_new < 0.6 or same_new <= across:
        fail("the host's new 'Other scores' digit and the guest's new 'Your score' digit differ")
    if same_old < 0.6 or same_old <= across:
        fail("the two digits that changed did not show the same value before the round")


if __name__ == "__main__":
    checks = {"walls": (walls, 2), "ink": (ink, 1), "scores": (scores, 4)}
    if len(sys.argv) < 2 or checks.get(sys.argv[1], (0, -1))[1] != len(sys.argv) - 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    checks[sys.argv[1]][0](*sys.argv[2:])
