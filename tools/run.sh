#!/usr/bin/env bash
# The main job: installs what the machine lacks, builds the installer, and runs
# it under Wine in a private prefix, then shows its install log.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/run}
bash tools/setup-machine.sh
bash tools/deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target setup
ORVANE_KEEP_PREFIX=1 bash tools/wine-harness.sh "$build" bash -c '
    exe="$1"
    timeout 120 wine "$exe" </dev/null; echo "installer exit code: $?"
    log=$(find -L "$HOME" "$WINEPREFIX/drive_c/users" -name install.log -path "*Tarvex/Orvane/Log*" 2>/dev/null | head -n 1)
    echo "install log: $log"; [ -n "$log" ] && tr -d "\r" < "$log"' run "$build/setup/OrvaneSetup.exe"
