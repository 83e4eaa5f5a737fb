#!/usr/bin/env bash
# restart_check.sh HELPER_EXE WORK_DIR   (inside own_prefix.sh)
# The helper stores a run-once command for itself and restarts Windows.
# Wine's restart runs the machine's run-once commands and removes them, so
# the command's output and the removed value show that the restart happened
# and that the stored command line was whole.
set -euo pipefail
helper=$1 work=$2
out="$work/after-restart.txt"
out_w=$(winepath -w "$out" 2>/dev/null)
helper_w=$(winepath -w "$helper" 2>/dev/null)

wine "$helper" restart "$out_w" </dev/null >/dev/null 2>&1 &
pid=$!
for _ in $(seq 600); do [ -s "$out" ] && break; sleep 0.1; done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true

[ -s "$out" ] || { echo "FAIL: the run-once command did not run within 60 s"; exit 1; }
got=$(iconv -f UTF-16LE -t UTF-8 < "$out")
want="\"$helper_w\" command-line \"$out_w\""
[ "$got" = "$want" ] || { echo "FAIL: command line: got [$got] want [$want]"; exit 1; }
if timeout 60 wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v OrvaneRestartCheck /reg:32 \
        </dev/null >/dev/null 2>&1; then
    echo "FAIL: the run-once value is still there"; exit 1
fi
echo "restart ran the run-once command: $got"
