#!/usr/bin/env bash
# run_in_win32_prefix.sh PREFIX_DIR PROGRAM ARGS...
# Runs one Windows test program in a 32-bit Windows prefix of its own (made
# on first use, kept beside the harness's prefix and thrown away with it),
# then ends that prefix's server. The harness's own 64-bit prefix is not
# touched.
set -euo pipefail
prefix=$1; shift
[ -n "${ORVANE_HARNESS:-}" ] || { echo "run through tools/wine-harness.sh" >&2; exit 125; }
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
cleanup() { timeout 60 wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 300 wineboot -i </dev/null >/dev/null 2>&1
    timeout 60 wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f </dev/null >/dev/null 2>&1
    timeout 60 wineserver -w
fi
timeout 120 wine "$@" </dev/null
