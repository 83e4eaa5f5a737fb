#!/usr/bin/env python3
"""Draws the installer's skin bitmaps with ImageMagick.

Every picture is one row of ART: resource id, file name, width, height, bit
depth and the drawing (ImageMagick arguments applied to a canvas of the
background colour). The build runs this script; nothing is taken from any
other program.

    make_art.py --out DIR      draw every bitmap into DIR (only when changed)
    make_art.py --list         print the file names, one a line
"""

import argparse
import os
import struct
import subprocess
import sys

CONVERT = os.environ.get("ORVANE_CONVERT", "/usr/bin/convert")

# The palette the dialogs' own colours fix (RGB).
ACCENT = "#4A47B5"        # header band of the message box (COLORREF 0xB5474A)
ACCENT_HOVER = "#5F5CCB"
ACCENT_PRESSED = "#38368F"
FOOTER = "#F7FBFD"        # footer band (COLORREF 0xFDFBF7)
WHITE = "#FFFFFF"
WARNING = "#F0A33C"


def button_face(face, border):
    """A flat rounded button on the footer band; its text is drawn by the control."""
    return ["-fill", face, "-stroke", border, "-strokewidth", "1",
            "-draw", "roundrectangle 0.5,0.5 99.5,31.5 5,5"]


def close_glyph(back):
    """The close button of the header band: a thin white cross on its own tile."""
    return ["-fill", back, "-stroke", "none", "-draw", "rectangle 0,0 16,20",
            "-stroke", WHITE, "-strokewidth", "1.6",
            "-draw", "stroke-linecap round line 5,7 12,14", "-draw", "stroke-linecap round line 12,7 5,14"]


def warning_icon():
    """A round amber sign with a white exclamation mark, on the white page."""
    return ["-fill", WARNING, "-stroke", "none", "-draw", "circle 14.5,14.5 14.5,0.8",
            "-stroke", WHITE, "-strokewidth", "3",
            "-draw", "stroke-linecap round line 14.5,7.5 14.5,16.5",
            "-stroke", "none", "-fill", WHITE, "-draw", "circle 14.5,21.8 14.5,20.1"]


# id, file, width, height, depth (bits per pixel), background, drawing
ART = [
    (174, "msgbox_button_hover.bmp", 100, 32, 24, FOOTER, button_face(ACCENT_HOVER, ACCENT_HOVER)),
    (175, "msgbox_icon.bmp", 30, 30, 24, WHITE, warning_icon()),
    (176, "msgbox_button_normal.bmp", 100, 32, 24, FOOTER, button_face(ACCENT, ACCENT)),
    (177, "msgbox_button_pressed.bmp", 100, 32, 24, FOOTER, button_face(ACCENT_PRESSED, ACCENT_PRESSED)),
    (178, "msgbox_close_hover.bmp", 17, 21, 24, ACCENT, close_glyph(ACCENT_HOVER)),
    (179, "msgbox_close_normal.bmp", 17, 21, 24, ACCENT, close_glyph(ACCENT)),
    (180, "msgbox_close_pressed.bmp", 17, 21, 24, ACCENT, close_glyph(ACCENT_PRESSED)),
]

TYPES = {24: ["-type", "TrueColor"], 32: ["-type", "TrueColorAlpha"], 8: ["-type", "Palette"]}


def bmp_header(path):
    with open(path, "rb") as f:
        head = f.read(30)
    if len(head) < 30 or head[:2] != b"BM":
        raise SystemExit(f"make_art: {path} is not a BMP file")
    width, height = struct.unpack_from("<ii", head, 18)
    bits = struct.unpack_from("<H", head, 28)[0]
    return width, abs(height), bits


def draw(out_dir, row):
    rid, name, width, height, depth, background, drawing = row
    target = os.path.join(out_dir, name)
    temp = target + ".tmp.bmp"
    cmd = [CONVERT, "-size", f"{width}x{height}", f"xc:{background}"] + drawing
    cmd += TYPES[depth] + ["-define", "bmp:format=bmp3", "-compress", "none", f"BMP3:{temp}"]
    subprocess.run(cmd, check=True)
    got = bmp_header(temp)
    if got != (width, height, depth):
        os.unlink(temp)
        raise SystemExit(f"make_art: bitmap {rid} came out {got}, wanted {(width, height, depth)}")
    # Replace only on change, so the resource compiler does not rerun for nothing.
    if os.path.exists(target):
        with open(target, "rb") as a, open(temp, "rb") as b:
            if a.read() == b.read():
                os.unlink(temp)
                return
    os.replace(temp, target)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    ids = [row[0] for row in ART]
    if len(set(ids)) != len(ids):
        raise SystemExit("make_art: duplicate resource id in the table")
    if args.list:
        print("\n".join(row[1] for row in ART))
        return 0
    if not args.out:
        parser.error("--out or --list")
    os.makedirs(args.out, exist_ok=True)
    for row in ART:
        draw(args.out, row)
    return 0


if __name__ == "__main__":
    sys.exit(main())
