#!/usr/bin/env bash
# wine-harness.sh BUILD_DIR COMMAND...
# Runs COMMAND (usually ctest) with a private, throw-away Wine prefix and HOME
# under BUILD_DIR/harness, a warm wineserver and an Xvfb display, then ends
# every process it started by PID. ORVANE_KEEP_PREFIX=1 reuses the prefix.
set -euo pipefail
build=$(cd "$1" && pwd); shift
run="$build/harness"
export ORVANE_HARNESS=1
export HOME="$run/home"
export WINEPREFIX="$run/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
export XDG_RUNTIME_DIR="$run/xdg"
export LANG=${ORVANE_TEST_LANG:-C.UTF-8}
# Wine names the profile folder after the user: a non-ASCII name keeps every
# test honest about paths outside ASCII (C:\users\jörg\...).
export USER=${ORVANE_TEST_USER:-jörg} LOGNAME=${ORVANE_TEST_USER:-jörg}
unset DISPLAY WAYLAND_DISPLAY

xvfb_pid=""
keeper_pid=""
cleanup() {
    [ -n "$keeper_pid" ] && kill "$keeper_pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    return 0
}
trap cleanup EXIT

if [ "${ORVANE_KEEP_PREFIX:-0}" != 1 ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$run"
fi
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# A display for the windows; the first free number from 90 on.
for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    if kill -0 "$xvfb_pid" 2>/dev/null; then export DISPLAY=":$n"; break; fi
    xvfb_pid=""
done
[ -n "${DISPLAY:-}" ] || { echo "harness: no Xvfb display could be started" >&2; exit 1; }

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 wineboot -i </dev/null >/dev/null 2>&1
    # Report a current Windows, as the manifest declares support for it.
    timeout 60 wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f </dev/null >/dev/null 2>&1
    # Xvfb runs no window manager: a managed window that hides waits 2 s for
    # a manager to withdraw it. Unmanaged windows hide at once.
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
    timeout 60 wineserver -w
fi
# A persistent server started with its descriptors detached; otherwise every
# test process waits for a lingering server holding ctest's output pipe.
wineserver -p </dev/null >/dev/null 2>&1
timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1
# Wine's desktop process inherits the output of the program that starts it
# and lives while any program uses the desktop: started by a test, it would
# hold that test's output open until the test's time-out. A keeper program,
# detached, starts it first and keeps it for the whole run.
keeper="$build/tests/support/desktop_keeper.exe"
if [ -f "$keeper" ]; then
    wine "$keeper" </dev/null >/dev/null 2>&1 &
    keeper_pid=$!
    for _ in $(seq 300); do
        pgrep -f 'explorer.exe /desktop' >/dev/null && break
        sleep 0.1
    done
fi

set +e
"$@"
rc=$?
set -e
exit $rc
