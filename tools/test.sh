#!/usr/bin/env bash
# The test command: installs what the machine lacks, builds the third-party
# parts (cached), builds the installer and its tests, and runs every test
# under Wine. BUILD_DIR (default build/test) and extra ctest arguments may be given.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/test}
bash tools/setup-machine.sh
bash tools/deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build "$build" -j"$(nproc)"
# Where Wine's i386 half runs under emulation every test process costs
# several times the processor time: half as many at once keeps the suite's
# time bounds honest.
jobs=$(nproc)
/lib/ld-linux.so.2 --version >/dev/null 2>&1 && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] || jobs=$(( (jobs + 1) / 2 ))
bash tools/wine-harness.sh "$build" \
    ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 400 "$@"
