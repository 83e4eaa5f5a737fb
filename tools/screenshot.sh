#!/usr/bin/env bash
# screenshot.sh DISPLAY OUT.png [WxH+X+Y]
# Saves the whole X display (or the given part of it) as a PNG, e.g. to look
# at the windows a test shows on the harness's Xvfb display. Xvfb has no
# compositor: layered (per-pixel alpha) windows do not blend on it.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 DISPLAY OUT.png [WxH+X+Y]" >&2; exit 2; }
display=$1 out=$2 crop=${3:-}
if [ -n "$crop" ]; then
    xwd -display "$display" -root -silent | /usr/bin/convert xwd:- -crop "$crop" +repage "$out"
else
    xwd -display "$display" -root -silent | /usr/bin/convert xwd:- "$out"
fi
