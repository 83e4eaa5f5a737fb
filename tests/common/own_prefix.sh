#!/usr/bin/env bash
# own_prefix.sh ARCH DIR COMMAND...
# Runs COMMAND with a fresh Wine prefix of its own (ARCH: win32 or win64)
# made in DIR, then ends that prefix's wine server and removes DIR. For what
# must not run in the harness's shared prefix (a restart of Windows) or needs
# the other bitness. Runs only inside the harness.
set -euo pipefail
[ -n "${ORVANE_HARNESS:-}" ] || { echo "own_prefix: run through tools/wine-harness.sh" >&2; exit 125; }
arch=$1 dir=$2
shift 2
case "$dir" in /*/*) ;; *) echo "own_prefix: DIR must be an absolute path below a folder" >&2; exit 2 ;; esac
rm -rf "$dir"
mkdir -p "$dir"
export WINEPREFIX="$dir/prefix" WINEARCH=$arch
cleanup() {
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    rm -rf "$dir"
}
trap cleanup EXIT
timeout 300 wineboot -i </dev/null >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f </dev/null >/dev/null 2>&1
timeout 60 wineserver -w
# Detached from ctest's output pipe, as in the harness.
wineserver -p </dev/null >/dev/null 2>&1
timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1
"$@"
