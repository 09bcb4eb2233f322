#!/usr/bin/env python3
"""Draws the program's icons and writes them as PNG files into resources/icons/.

The toolbar pictures are 16 x 15 pixel art kept here as character grids; the
application and document icons (32 x 32) are drawn from a few shapes. Each
picture goes through an XPM file to ImageMagick's `convert`, so nothing beyond
Python and ImageMagick is needed to regenerate them:

    python3 resources/make_icons.py
"""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "icons")

PALETTE = {
    ".": "None",
    "k": "#000000",
    "w": "#FFFFFF",
    "s": "#C0C0C0",
    "g": "#808080",
    "y": "#FFE04A",  # folder front
    "o": "#C89B1E",  # folder back
    "n": "#23317A",  # diskette body
    "B": "#0000C8",  # histogram axis
    "d": "#141414",  # histogram bars
    "r": "#2050C0",  # fit frame
}

TOOLBAR = {
    "open": [
        "................",
        "................",
        "................",
        ".kkkk...........",
        "kooook..........",
        "koooookkkkkkk...",
        "koooooooooook...",
        "koookkkkkkkkkkkk",
        "kookyyyyyyyyyyyk",
        "kokyyyyyyyyyyyk.",
        "kokyyyyyyyyyyyk.",
        "kkyyyyyyyyyyyk..",
        "kkkkkkkkkkkkk...",
        "................",
        "................",
    ],
    "save": [
        ".kkkkkkkkkkkkkk.",
        ".knwwwwwwwwwwnk.",
        ".knwwwwwwwwwwnk.",
        ".knwggggggggwnk.",
        ".knwwwwwwwwwwnk.",
        ".knwggggggggwnk.",
        ".knwwwwwwwwwwnk.",
        ".knnnnnnnnnnnnk.",
        ".knnnnnnnnnnnnk.",
        ".knnssssssssnnk.",
        ".knnsnnssssssnk.",
        ".knnsnnssssssnk.",
        ".knnssssssssnnk.",
        "..kkkkkkkkkkkkk.",
        "................",
    ],
    "histogram": [
        "................",
        ".B..............",
        ".B..............",
        ".B.......d......",
        ".B.......d......",
        ".B.....d.d......",
        ".B.....d.d.d....",
        ".B.....d.d.d....",
        ".B...d.d.d.d....",
        ".B...d.d.d.d.d..",
        ".B.d.d.d.d.d.d..",
        ".B.d.d.d.d.d.d.d",
        ".B.d.d.d.d.d.d.d",
        ".BBBBBBBBBBBBBBB",
        "................",
    ],
    "fit": [
        "kkkk........kkkk",
        "kk............kk",
        "k.k..........k.k",
        "k..k........k..k",
        "....rrrrrrrr....",
        "....r......r....",
        "....r......r....",
        "....r......r....",
        "....r......r....",
        "....r......r....",
        "....rrrrrrrr....",
        "k..k........k..k",
        "k.k..........k.k",
        "kk............kk",
        "kkkk........kkkk",
    ],
}


def app_icon():
    """A framed picture whose left half is dark and right half bright, crossed by
    an S-shaped contrast curve: the program's subject in one glance."""
    size = 32
    grid = [["." for _ in range(size)] for _ in range(size)]
    colours = dict(PALETTE)
    for level in range(0, 256, 8):
        colours["%02X" % level] = "#%02X%02X%02X" % (level, level, level)
    for y in range(2, 30):
        for x in range(2, 30):
            if x in (2, 29) or y in (2, 29):
                grid[y][x] = "k"
            else:
                level = int((x - 3) * 255 / 25) // 8 * 8
                grid[y][x] = "%02X" % level
    import math
    for step in range(0, 400):
        t = step / 399.0
        x = 3 + t * 25
        s = 1 / (1 + math.exp(-10 * (t - 0.5)))
        y = 28 - s * 25
        for dx, dy in ((0, 0), (0, 1)):
            xi, yi = int(round(x)) + dx, int(round(y)) + dy
            if 3 <= xi <= 28 and 3 <= yi <= 28:
                grid[yi][xi] = "r"
    return grid, colours


def doc_icon():
    """A page with a folded corner showing a gray ramp from black to white."""
    size = 32
    grid = [["." for _ in range(size)] for _ in range(size)]
    colours = dict(PALETTE)
    for level in range(0, 256, 8):
        colours["%02X" % level] = "#%02X%02X%02X" % (level, level, level)
    left, right, top, bottom, fold = 5, 26, 1, 30, 7
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x - left + (top + fold - y) > right - left:  # cut corner
                continue
            edge = x in (left, right) or y in (top, bottom)
            grid[y][x] = "k" if edge else "w"
    for i in range(fold + 1):  # the diagonal of the fold and the flap
        grid[top + i][right - fold + i] = "k"
        grid[top + fold][right - fold + i] = "k"
        grid[top + i][right - fold] = "k"
        for x in range(right - fold + 1, right - fold + i):
            grid[top + i][x] = "s"
    for y in range(top + fold + 3, bottom - 2):
        for x in range(left + 3, right - 2):
            level = int((y - (top + fold + 3)) * 255 / (bottom - 3 - (top + fold + 3))) // 8 * 8
            grid[y][x] = "%02X" % level
    return grid, colours


def write_xpm(path, rows, colours):
    used = sorted({c for row in rows for c in row})
    width = max(len(k) for k in used)
    keys = {c: c.ljust(width) for c in used}
    with open(path, "w") as f:
        f.write("/* XPM */\nstatic char *icon[] = {\n")
        f.write('"%d %d %d %d",\n' % (len(rows[0]), len(rows), len(used), width))
        for c in used:
            f.write('"%s c %s",\n' % (keys[c], colours[c]))
        f.write(",\n".join('"%s"' % "".join(keys[c] for c in row) for row in rows))
        f.write("\n};\n")


def to_png(rows, colours, name):
    for row in rows:
        assert len(row) == len(rows[0]), name
    with tempfile.TemporaryDirectory() as tmp:
        xpm = os.path.join(tmp, name + ".xpm")
        write_xpm(xpm, rows, colours)
        subprocess.run(["convert", xpm, "-strip", "PNG32:" + os.path.join(OUT, name + ".png")], check=True)


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, rows in TOOLBAR.items():
        assert len(rows) == 15 and all(len(r) == 16 for r in rows), name
        to_png([list(r) for r in rows], PALETTE, name)
    grid, colours = app_icon()
    to_png(grid, colours, "lumivex")
    grid, colours = doc_icon()
    to_png(grid, colours, "document")


if __name__ == "__main__":
    main()
