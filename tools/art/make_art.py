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


# The main dialog's pages and animation: 255 x 255 pictures placed at the
# picture position, and the 622 x 405 background the install disc uncovers.
LAVENDER = "#E6E5F7"      # the logo's tile, before the download
OPAQUE_WHITE = "#FDFDFD"  # white that a picture drawn without its white pixels keeps
FINISH = "#42237E"        # the finish frame's fill (pixel 0x42237E)


def tile(face):
    """The product's square tile, centred in a 255 x 255 picture."""
    return ["-fill", face, "-stroke", "none", "-draw", "roundrectangle 24,24 230,230 40,40"]


def download_glyph(ink):
    """A downward arrow onto a tray."""
    return ["-fill", "none", "-stroke", ink, "-strokewidth", "14",
            "-draw", "stroke-linecap round line 127,74 127,150",
            "-draw", "stroke-linecap round stroke-linejoin round polyline 94,120 127,153 160,120",
            "-draw", "stroke-linecap round line 86,180 168,180"]


def check_glyph(ink, width=16):
    return ["-fill", "none", "-stroke", ink, "-strokewidth", str(width),
            "-draw", "stroke-linecap round stroke-linejoin round polyline 84,132 114,162 172,100"]


def package_glyph(ink):
    """A closed box seen from the front, for the install picture."""
    return ["-fill", "none", "-stroke", ink, "-strokewidth", "10", "-draw", "stroke-linejoin round rectangle 80,100 174,176",
            "-draw", "stroke-linejoin round polyline 80,100 96,76 158,76 174,100",
            "-draw", "line 127,76 127,100", "-draw", "line 110,124 144,124"]


def failed_sign():
    """An amber sign above the middle band where the page writes its text."""
    return ["-fill", WARNING, "-stroke", "none", "-draw", "circle 127.5,40 127.5,8",
            "-stroke", WHITE, "-strokewidth", "6",
            "-draw", "stroke-linecap round line 127.5,24 127.5,44",
            "-stroke", "none", "-fill", WHITE, "-draw", "circle 127.5,56 127.5,52"]


def finish_picture():
    return ["-fill", "none", "-stroke", WHITE, "-strokewidth", "10", "-draw", "circle 127.5,127.5 127.5,40"] + \
        check_glyph(WHITE, 14)


def page_background():
    """The finished page: the accent colour with soft rings and a check in a
    circle where the 255 x 255 pictures sit (centre 311, 179)."""
    soft = "rgba(255,255,255,0.07)"
    return ["-fill", ACCENT_HOVER, "-stroke", "none", "-draw", "circle 311,460 311,40",
            "-fill", soft, "-draw", "circle 311,460 311,130",
            "-fill", soft, "-draw", "circle 311,460 311,220",
            "-fill", "none", "-stroke", WHITE, "-strokewidth", "8", "-draw", "circle 311,179 311,109",
            "-strokewidth", "12", "-draw", "stroke-linecap round stroke-linejoin round polyline 281,181 303,203 345,159"]


# id, file, width, height, depth (bits per pixel), background, drawing
ART = [
    (174, "msgbox_button_hover.bmp", 100, 32, 24, FOOTER, button_face(ACCENT_HOVER, ACCENT_HOVER)),
    (175, "msgbox_icon.bmp", 30, 30, 24, WHITE, warning_icon()),
    (176, "msgbox_button_normal.bmp", 100, 32, 24, FOOTER, button_face(ACCENT, ACCENT)),
    (177, "msgbox_button_pressed.bmp", 100, 32, 24, FOOTER, button_face(ACCENT_PRESSED, ACCENT_PRESSED)),
    (178, "msgbox_close_hover.bmp", 17, 21, 24, ACCENT, close_glyph(ACCENT_HOVER)),
    (179, "msgbox_close_normal.bmp", 17, 21, 24, ACCENT, close_glyph(ACCENT)),
    (180, "msgbox_close_pressed.bmp", 17, 21, 24, ACCENT, close_glyph(ACCENT_PRESSED)),
    # The main dialog's pages and animation.
    (132, "install_picture.bmp", 255, 255, 24, WHITE, tile(ACCENT) + package_glyph(OPAQUE_WHITE)),
    (133, "finish_picture.bmp", 255, 255, 24, FINISH, finish_picture()),
    (182, "download_failed.bmp", 255, 255, 24, WHITE, failed_sign()),
    (183, "download_done.bmp", 255, 255, 24, WHITE, tile(ACCENT) + check_glyph(WHITE)),
    (184, "download_paused.bmp", 255, 255, 24, WHITE, tile(LAVENDER) + download_glyph(ACCENT_HOVER)),
    (185, "page_background.bmp", 622, 405, 24, ACCENT, page_background()),
    (190, "logo_picture.bmp", 255, 255, 24, WHITE, tile(LAVENDER) + download_glyph(ACCENT)),
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
