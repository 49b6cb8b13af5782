#!/usr/bin/env python3
"""Checks an HTML report and a browser's screenshot of it.

  check-page.py PAGE.html SHOT.png

The page must stand alone (no script, nothing loaded from elsewhere) and each
of its <svg> elements (at least two: the map and the bars) must parse as XML
on its own. The screenshot, decoded here from the PNG with zlib alone, must
not be blank: enough colours and enough non-white pixels, and pixels of the
colours that only the figures use (the points' and bars' blue and the
residual arrows' orange), so that the figures were drawn and not only the text.
Prints what it found; exits 1 on any failed check.
"""
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zlib

# Colours of the figures (report/html.cpp): points and bars, residual arrows.
FIGURE_BLUE = (0x1F, 0x4E, 0x79)
ARROW_ORANGE = (0xE0, 0x7B, 0x00)


def read_png(path):
    """Width, height and rows of (r, g, b) bytes of an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("%s is not a PNG file" % path)
    pos, idat, header = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
        pos += 12 + length
    if header is None:
        raise ValueError("%s has no IHDR chunk" % path)
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace != 0:
        raise ValueError("%s: only 8-bit RGB/RGBA without interlace is read here "
                         "(depth %d, colour type %d, interlace %d)"
                         % (path, depth, colour, interlace))
    raw = zlib.decompress(b"".join(idat))
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        if kind == 1:  # Sub
            for i in range(channels, stride):
                line[i] = (line[i] + line[i - channels]) & 0xFF
        elif kind == 2:  # Up
            line = bytearray((a + b) & 0xFF for a, b in zip(line, previous))
        elif kind == 3:  # Average
            for i in range(stride):
                left = line[i - channels] if i >= channels else 0
                line[i] = (line[i] + ((left + previous[i]) >> 1)) & 0xFF
        elif kind == 4:  # Paeth
            for i in range(stride):
                a = line[i - channels] if i >= channels else 0
                b = previous[i]
                c = previous[i - channels] if i >= channels else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                predictor = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + predictor) & 0xFF
        elif kind != 0:
            raise ValueError("%s: unknown PNG filter %d in row %d" % (path, kind, y))
        rows.append(bytes(line) if channels == 3 else
                     bytes(v for i, v in enumerate(line) if i % 4 != 3))
        previous = line
    return width, height, rows


def check_page(path, failures):
    with open(path, encoding="utf-8") as f:
        page = f.read()
    for pattern, what in ((r"<script\b", "a script"), (r"<link\b", "a linked resource"),
                          (r"<(img|iframe|object|embed)\b", "an embedded resource"),
                          (r"@import|url\(\s*['\"]?(https?:|//)", "a style from elsewhere"),
                          (r"\b(src|href)\s*=\s*['\"]?(https?:|//)", "an address elsewhere")):
        if re.search(pattern, page, re.IGNORECASE):
            failures.append("%s holds %s" % (path, what))
    figures = re.findall(r"<svg\b.*?</svg>", page, re.DOTALL)
    print("%s: %d bytes, %d svg elements" % (path, len(page.encode("utf-8")), len(figures)))
    if len(figures) < 2:
        failures.append("%s: %d svg elements, expected the map and the bars" % (path, len(figures)))
    for number, figure in enumerate(figures, 1):
        try:
            root = ElementTree.fromstring(figure)
        except ElementTree.ParseError as error:
            failures.append("svg %d does not parse as XML: %s" % (number, error))
            continue
        print("  svg %d: parses, %d elements" % (number, sum(1 for _ in root.iter())))


def check_shot(path, failures):
    width, height, rows = read_png(path)
    colours, non_white = set(), 0
    blue = orange = 0
    for row in rows:
        for i in range(0, len(row), 3):
            pixel = row[i:i + 3]
            colours.add(pixel)
            if pixel != b"\xff\xff\xff":
                non_white += 1
            if pixel == bytes(FIGURE_BLUE):
                blue += 1
            elif pixel == bytes(ARROW_ORANGE):
                orange += 1
    share = non_white / float(width * height)
    print("%s: %d x %d pixels, %d colours, %.1f %% not white, %d figure blue, %d arrow orange"
          % (path, width, height, len(colours), 100 * share, blue, orange))
    if len(colours) < 16:
        failures.append("screenshot has only %d colours" % len(colours))
    if not 0.02 <= share <= 0.9:
        failures.append("screenshot is %.1f %% non-white, not a page of text and figures"
                        % (100 * share))
    if blue < 200:
        failures.append("screenshot has %d pixels of the figures' blue: no points or bars" % blue)
    if orange < 20:
        failures.append("screenshot has %d pixels of the arrows' orange: no residual arrows"
                        % orange)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: check-page.py PAGE.html SHOT.png")
    failures = []
    check_page(sys.argv[1], failures)
    check_shot(sys.argv[2], failures)
    for failure in failures:
        print("FAIL: " + failure)
    print("page check: %s" % ("failed" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
