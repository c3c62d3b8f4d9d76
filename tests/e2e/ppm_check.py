#!/usr/bin/env python3
"""Pixel checks on the PPM crops that xwin_tool saves, for the end-to-end tests.

  walls A.ppm B.ppm              the (125,125,125) minimap wall pixels of A and B are the same set
  ink FILE.ppm                   prints "count x0 x1": red text pixels and their column extent
  scores HB HA GB GA             the score strips before/after a round on the host and the guest
                                 show mirrored scores: the host's "Other scores" digit and the
                                 guest's "Your score" digit changed, to the same glyph
Exit status 0 when the check holds, 1 when it does not (with the reason on stderr).
"""
import sys

WALL = (125, 125, 125)


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        magic, size, depth, self.body = data.split(b"\n", 3)
        if magic != b"P6" or depth != b"255":
            raise SystemExit(f"{path}: not a PPM written by xwin_tool")
        self.w, self.h = map(int, size.split())
        self.path = path

    def px(self, x, y):
        i = 3 * (y * self.w + x)
        return tuple(self.body[i:i + 3])

    def positions(self, colour):
        return {(x, y) for y in range(self.h) for x in range(self.w) if self.px(x, y) == colour}


def reddish(p):
    # Antialiased red text on grey: red clearly above both other channels.
    return p[0] >= p[1] + 60 and p[0] >= p[2] + 60


def fail(message):
    print("ppm_check: " + message, file=sys.stderr)
    sys.exit(1)


def walls(a_path, b_path):
    a, b = Image(a_path), Image(b_path)
    wa, wb = a.positions(WALL), b.positions(WALL)
    print(f"wall pixels: {len(wa)} and {len(wb)}, {len(wa ^ wb)} in only one of them")
    if len(wa) < 100:
        fail("too few wall pixels to compare")
    if wa != wb:
        sys.exit(1)


def ink_columns(img, x0=0, x1=None):
    x1 = img.w if x1 is None else x1
    return [x for x in range(x0, x1) if any(reddish(img.px(x, y)) for y in range(img.h))]


def ink(path):
    img = Image(path)
    count = sum(reddish(img.px(x, y)) for y in range(img.h) for x in range(img.w))
    cols = ink_columns(img)
    print(count, cols[0] if cols else -1, cols[-1] if cols else -1)


def changed_columns(a, b):
    return [x for x in range(a.w) if any(a.px(x, y) != b.px(x, y) for y in range(a.h))]


def clusters(cols):
    groups = []
    for x in cols:
        if groups and x - groups[-1][-1] <= 2:
            groups[-1].append(x)
        else:
            groups.append([x])
    return groups


def glyph(img, cols):
    """The red text pixels within the columns, moved to their bounding box's corner."""
    pts = {(x, y) for x in cols for y in range(img.h) if reddish(img.px(x, y))}
    if not pts:
        return frozenset()
    mx, my = min(p[0] for p in pts), min(p[1] for p in pts)
    return frozenset((x - mx, y - my) for x, y in pts)


def similarity(a, b):
    """Best overlap (intersection over union) of two glyph masks over shifts of one pixel."""
    if not a or not b:
        return 0.0
    best = 0.0
    for dx in (-1, 0, 1):
        for dy in (-1, 0, 1):
            moved = {(x + dx, y + dy) for x, y in b}
            best = max(best, len(a & moved) / len(a | moved))
    return best


def scores(hb_path, ha_path, gb_path, ga_path):
    hb, ha, gb, ga = (Image(p) for p in (hb_path, ha_path, gb_path, ga_path))
    if len({(i.w, i.h) for i in (hb, ha, gb, ga)}) != 1:
        fail("score strip crops differ in size")
    if hb.body != gb.body:
        fail("the score strips differed before the round, when both sides had the same scores")
    text = ink_columns(hb)
    if len(text) < 50:
        fail(f"the score strip shows almost no red text ({len(text)} columns)")
    tx0, tx1 = text[0], text[-1]
    middle = tx0 + (tx1 - tx0) // 2  # the '|' between the two scores sits near here
    hc, gc = changed_columns(hb, ha), changed_columns(gb, ga)
    print(f"score text columns {tx0}-{tx1}; host changed columns {hc[:1] + hc[-1:]}, "
          f"guest changed columns {gc[:1] + gc[-1:]}")
    if not hc or not gc:
        fail("a score strip did not change over the round (host %d, guest %d changed columns)" % (len(hc), len(gc)))
    # "Other scores:D" ends the line, "Your score:K" ends just before the middle.
    if hc[0] < tx0 + (tx1 - tx0) * 3 // 4:
        fail(f"the host's strip changed at column {hc[0]}, left of its 'Other scores' digit")
    if gc[-1] >= middle or gc[0] < tx0 + (tx1 - tx0) // 4:
        fail(f"the guest's strip changed in columns {gc[0]}-{gc[-1]}, not only at its 'Your score' digit")
    if len(clusters(hc)) != 1 or len(clusters(gc)) != 1:
        fail("more than one glyph changed on a side")
    h_new, g_new = glyph(ha, hc), glyph(ga, gc)
    h_old, g_old = glyph(hb, hc), glyph(gb, gc)
    same_new, same_old = similarity(h_new, g_new), similarity(h_old, g_old)
    across = similarity(h_new, h_old)
    print(f"glyph overlap: new host/guest {same_new:.2f}, old host/guest {same_old:.2f}, host old/new {across:.2f}")
    if not h_new or not g_new:
        fail("a changed digit is blank")
    if same_new < 0.6 or same_new <= across:
        fail("the host's new 'Other scores' digit and the guest's new 'Your score' digit differ")
    if same_old < 0.6 or same_old <= across:
        fail("the two digits that changed did not show the same value before the round")


def main(argv):
    commands = {"walls": (walls, 2), "ink": (ink, 1), "scores": (scores, 4)}
    if len(argv) < 2 or argv[1] not in commands or len(argv) - 2 != commands[argv[1]][1]:
        print(__doc__, file=sys.stderr)
        return 2
    commands[argv[1]][0](*argv[2:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
