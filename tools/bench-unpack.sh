#!/usr/bin/env bash
# Benchmark: extracts one package by the unpack step under Wine and its payload
# by Debian's native 7-Zip ("7zz x"), three runs each, and prints the times and
# their ratio. Needs the 7zip package. BENCH_MB sets the data size (200).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/bench}
mb=${BENCH_MB:-200}
# Debian's 7zip package installs the console as 7zz.
seven=$(command -v 7zz || command -v 7z || true)
[ -n "$seven" ] || { echo "bench-unpack: needs Debian's 7zip package (apt-get install 7zip)" >&2; exit 1; }
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j4 --target mkpackage unpackpackage >/dev/null
work=$(mktemp -d "$(pwd)/$build/bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Half text that compresses well, half bytes that do not, in a few folders.
python3 - "$work/src" "$mb" <<'PY'
import os, sys
root, mb = sys.argv[1], int(sys.argv[2])
for i in range(8):
    d = os.path.join(root, "dir%d" % (i % 3))
    os.makedirs(d, exist_ok=True)
    size = mb * 1024 * 1024 // 8
    with open(os.path.join(d, "file%d.bin" % i), "wb") as f:
        if i % 2:
            f.write(os.urandom(size))
        else:
            line = b"".join(b"%08d the quick brown fox %d\n" % (n, n * 7919 % 1000) for n in range(20000))
            f.write((line * (size // len(line) + 1))[:size])
PY

ORVANE_KEEP_PREFIX=1 bash tools/wine-harness.sh "$build" bash -s "$build" "$work" "$seven" <<'SH'
set -euo pipefail
build=$1; work=$2; seven=$3
z() { echo "Z:$(echo "$1" | tr / '\\')"; }
wine "$build/tools/mkpackage/mkpackage.exe" --source "$(z "$work/src")" --out "$(z "$work/setup.exe")" >/dev/null
# The payload region, cut out by the header's offsets.
python3 - "$work/setup.exe" "$work/payload.7z" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
h = struct.unpack_from("<Q", data, 32)[0]
off, size = struct.unpack_from("<QQ", data, h + 24)
open(sys.argv[2], "wb").write(data[off:off + size])
print("package %d bytes, payload %d bytes" % (len(data), size))
PY
wine_ms=(); native_ms=()
for i in 1 2 3; do
    rm -rf "$work/out_wine" "$work/out_native"
    line=$(wine "$build/tools/mkpackage/unpackpackage.exe" "$(z "$work/setup.exe")" "$(z "$work/out_wine")" \
           | tr -d '\r' | grep '^unpack: ' || true)
    ms=$(echo "$line" | sed -n 's/.* \([0-9]*\) ms$/\1/p'); [ -n "$ms" ] || { echo "bench: $line" >&2; exit 1; }
    wine_ms+=("$ms")
    t0=$(date +%s%N); "$seven" x -y -o"$work/out_native" "$work/payload.7z" >/dev/null; t1=$(date +%s%N)
    native_ms+=($(( (t1 - t0) / 1000000 )))
done
diff -r "$work/src" "$work/out_native" >/dev/null && echo "native output matches the source"
diff -r -x "uninstall.exe*" "$work/src" "$work/out_wine" >/dev/null && echo "unpack output matches the source"
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
w=$(median "${wine_ms[@]}"); n=$(median "${native_ms[@]}")
echo "UnpackPackage under Wine: ${wine_ms[*]} ms (median $w ms)"
echo "native 7z x:              ${native_ms[*]} ms (median $n ms)"
python3 -c "print('ratio (Wine / native): %.2f' % ($w / max($n, 1)))"
SH
