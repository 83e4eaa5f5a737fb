#!/usr/bin/env bash
# Runs one Windows program under Wine inside the harness's private prefix.
# Refuses to run outside the harness, so no test touches a real prefix or home.
if [ -z "${ORVANE_HARNESS:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
    echo "wine-exec: run tests through tools/wine-harness.sh" >&2
    exit 125
fi
exec wine "$@" </dev/null
