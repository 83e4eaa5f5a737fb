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

# ---- The main dialog's controls: title-bar buttons, check boxes, the Custom
# arrow, the browse button, the uninstall buttons and progress bar, the
# product logos and the ready page's picture. Same palette as the message box,
# on the dialog's white page.
GLYPH = "#9A9AA6"          # title-bar glyphs at rest
BOX_LINE = "#B8B8C2"       # an empty check box's frame
SOFT = "#E9E8F7"           # light accent wash


def title_button(back, glyph, minimise):
    """A title-bar button: a cross or a bar on its own tile."""
    draw = ["-fill", back, "-stroke", "none", "-draw", "rectangle 0,0 16,20", "-stroke", glyph,
            "-strokewidth", "1.6"]
    if minimise:
        return draw + ["-draw", "stroke-linecap round line 4.5,11.5 12.5,11.5"]
    return draw + ["-draw", "stroke-linecap round line 5,7 12,14", "-draw", "stroke-linecap round line 12,7 5,14"]


def check_box(frame, fill, tick):
    """A 14 x 14 check box: a rounded frame, filled with a white tick when checked."""
    draw = ["-fill", fill, "-stroke", frame, "-strokewidth", "1",
            "-draw", "roundrectangle 0.5,0.5 13.5,13.5 2,2"]
    if tick:
        draw += ["-fill", "none", "-stroke", WHITE, "-strokewidth", "1.8",
                 "-draw", "polyline 3.5,7 6,9.8 10.8,4.2"]
    return draw


def chevron(colour, up):
    """The Custom box's 13 x 7 arrow: down while the panel is closed, up while open."""
    points = "1,1 6.5,5.8 12,1" if not up else "1,6 6.5,1.2 12,6"
    return ["-fill", "none", "-stroke", colour, "-strokewidth", "1.6", "-draw", f"polyline {points}"]


def browse_button(face, line):
    """The 26 x 26 browse button beside the folder box: a small folder on a tile."""
    return ["-fill", face, "-stroke", line, "-strokewidth", "1", "-draw", "rectangle 0.5,0.5 25.5,25.5",
            "-fill", "none", "-stroke", ACCENT, "-strokewidth", "1.4",
            "-draw", "polyline 6,9 6,18.5 20,18.5 20,10.5 12.5,10.5 11,8.5 6,8.5 6,9",
            "-alpha", "set", "-define", "bmp3:alpha=true"]


def wide_button(face):
    """A 100 x 32 button of the uninstall page; its text is drawn by the control."""
    return ["-fill", face, "-stroke", face, "-strokewidth", "1",
            "-draw", "roundrectangle 0.5,0.5 99.5,31.5 4,4"]


def bar(colour):
    """A 602 x 10 progress strip: the track or the bar, rounded at both ends."""
    return ["-fill", colour, "-stroke", "none", "-draw", "roundrectangle 0,1 601,8 4,4"]


def logo(mark, word):
    """A 168 x 44 logo: a ring mark and the product's name beside it."""
    return ["-fill", mark, "-stroke", "none", "-draw", "circle 22,22 22,6",
            "-fill", WHITE, "-draw", "circle 22,22 22,12", "-fill", mark, "-draw", "circle 22,22 22,17",
            "-fill", word, "-font", "DejaVu-Sans-Bold", "-pointsize", "21", "-gravity", "NorthWest",
            "-annotate", "+46+8", "Orvane"]


def uninstall_picture():
    """The uninstall page's 342 x 228 picture: a window being emptied into a tray."""
    return ["-fill", SOFT, "-stroke", "none", "-draw", "roundrectangle 46,24 296,204 14,14",
            "-fill", WHITE, "-stroke", ACCENT, "-strokewidth", "3",
            "-draw", "roundrectangle 96,46 246,146 8,8",
            "-stroke", "none", "-fill", ACCENT, "-draw", "rectangle 96,46 246,62",
            "-fill", "#D4D2F0", "-draw", "roundrectangle 116,80 226,92 5,5",
            "-draw", "roundrectangle 116,104 196,116 5,5",
            "-fill", ACCENT_HOVER, "-draw", "polygon 151,156 191,156 171,184"]


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

    # The main dialog's controls.
    (138, "main_logo_x86.bmp", 168, 44, 24, WHITE, logo(ACCENT, "#3B3A55")),
    (139, "main_logo_x86_alt.bmp", 168, 44, 24, ACCENT, logo(WHITE, WHITE)),
    (140, "main_close_normal.bmp", 17, 21, 24, WHITE, title_button(WHITE, GLYPH, False)),
    (142, "main_close_pressed.bmp", 17, 21, 24, WHITE, title_button(ACCENT_PRESSED, WHITE, False)),
    (143, "main_close_hover.bmp", 17, 21, 24, WHITE, title_button(ACCENT, WHITE, False)),
    (144, "main_min_normal.bmp", 17, 21, 24, WHITE, title_button(WHITE, GLYPH, True)),
    (146, "main_min_pressed.bmp", 17, 21, 24, WHITE, title_button(ACCENT_PRESSED, WHITE, True)),
    (147, "main_min_hover.bmp", 17, 21, 24, WHITE, title_button(ACCENT, WHITE, True)),
    # The finished page's title-bar buttons sit on its accent background.
    (148, "main_close_finished.bmp", 17, 21, 24, ACCENT, title_button(ACCENT, WHITE, False)),
    (149, "main_min_finished.bmp", 17, 21, 24, ACCENT, title_button(ACCENT, WHITE, True)),
    (150, "main_min_finished_pressed.bmp", 17, 21, 24, ACCENT, title_button(ACCENT_PRESSED, WHITE, True)),
    (151, "main_min_finished_hover.bmp", 17, 21, 24, ACCENT, title_button(ACCENT_HOVER, WHITE, True)),
    (154, "uninstall_picture.bmp", 342, 228, 24, WHITE, uninstall_picture()),
    (155, "uninstall_progress_bar.bmp", 602, 10, 24, WHITE, bar(ACCENT)),
    (156, "uninstall_progress_track.bmp", 602, 10, 24, WHITE, bar(SOFT)),
    (157, "check_clear.bmp", 14, 14, 24, WHITE, check_box(BOX_LINE, WHITE, False)),
    (158, "check_clear_hover.bmp", 14, 14, 24, WHITE, check_box(ACCENT, WHITE, False)),
    (159, "check_ticked.bmp", 14, 14, 24, WHITE, check_box(ACCENT, ACCENT, True)),
    (160, "check_ticked_hover.bmp", 14, 14, 24, WHITE, check_box(ACCENT_HOVER, ACCENT_HOVER, True)),
    (161, "uninstall_button_pressed.bmp", 100, 32, 24, WHITE, wide_button(ACCENT_PRESSED)),
    (162, "uninstall_button_hover.bmp", 100, 32, 24, WHITE, wide_button(ACCENT_HOVER)),
    (163, "uninstall_button_normal.bmp", 100, 32, 24, WHITE, wide_button(ACCENT)),
    (165, "custom_closed.bmp", 13, 7, 24, WHITE, chevron(GLYPH, False)),
    (166, "custom_closed_hover.bmp", 13, 7, 24, WHITE, chevron(ACCENT, False)),
    (167, "custom_open.bmp", 13, 7, 24, WHITE, chevron(GLYPH, True)),
    (168, "custom_open_hover.bmp", 13, 7, 24, WHITE, chevron(ACCENT, True)),
    (169, "browse_pressed.bmp", 26, 26, 32, WHITE, browse_button("#D4D2F0", ACCENT)),
    (170, "browse_hover.bmp", 26, 26, 32, WHITE, browse_button(SOFT, ACCENT)),
    (171, "browse_normal.bmp", 26, 26, 32, WHITE, browse_button("#F4F4F8", BOX_LINE)),
    (187, "main_logo_x64.bmp", 168, 44, 24, WHITE, logo(ACCENT, "#3B3A55")),
    (188, "main_logo_x64_alt.bmp", 168, 44, 24, ACCENT, logo(WHITE, WHITE)),
]

# The installer's icon (id, file, drawing on a 48 x 48 transparent canvas),
# written with 16, 32 and 48 pixel images.
ICONS = [
    (107, "setup.ico", ["-fill", ACCENT, "-stroke", "none", "-draw", "roundrectangle 2,2 45,45 9,9",
                        "-fill", WHITE, "-draw", "polygon 19,10 29,10 29,24 36,24 24,37 12,24 19,24"]),
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


def replace_if_changed(temp, target):
    """Replace only on change, so the resource compiler does not rerun for nothing."""
    if os.path.exists(target):
        with open(target, "rb") as a, open(temp, "rb") as b:
            if a.read() == b.read():
                os.unlink(temp)
                return
    os.replace(temp, target)


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
    replace_if_changed(temp, target)


def draw_icon(out_dir, row):
    rid, name, drawing = row
    target = os.path.join(out_dir, name)
    temp = target + ".tmp.ico"
    cmd = [CONVERT, "-size", "48x48", "xc:none"] + drawing
    cmd += ["-define", "icon:auto-resize=48,32,16", f"ICO:{temp}"]
    subprocess.run(cmd, check=True)
    replace_if_changed(temp, target)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    ids = [row[0] for row in ART] + [row[0] for row in ICONS]
    if len(set(ids)) != len(ids):
        raise SystemExit("make_art: duplicate resource id in the table")
    if args.list:
        print("\n".join([row[1] for row in ART] + [row[1] for row in ICONS]))
        return 0
    if not args.out:
        parser.error("--out or --list")
    os.makedirs(args.out, exist_ok=True)
    for row in ART:
        draw(args.out, row)
    for row in ICONS:
        draw_icon(args.out, row)
    return 0


if __name__ == "__main__":
    sys.exit(main())
