#!/usr/bin/env bash
# The install road's benchmark: time from Install to the finished page for a
# 48 MiB package on throttled loopback mirrors, split into download, verify,
# the worker's fixed pauses, extract and product steps; then the download
# engine alone (tools/dlbench) on the same manifest, mirrors and caps, so the
# install's download share stands beside the engine's own figure.
#   BENCH_RATE=bytes/s per mirror connection (default 2 MiB/s)
#   BENCH_SIZE=payload bytes (default 48 MiB, incompressible)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build/bench-install}
rate=${BENCH_RATE:-2097152}
size=${BENCH_SIZE:-50331648}
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build "$build" -j8 --target mkpackage dlbench standin_orvane standin_orvane32 standin_unins000 >/dev/null
build=$(cd "$build" && pwd)
work="$build/install-bench"
mirrors="$work/mirrors"
net=$(python3 -c 'import hashlib,sys; d=hashlib.md5(sys.argv[1].encode()).hexdigest(); print("127.%d.%d" % (int(d[0:2],16)%254+1, int(d[2:4],16)%254+1))' "$mirrors")
mkdir -p "$work/payload" "$mirrors/www/download"
cp "$build/standins/orvane.exe" "$build/standins/orvane32.dll" "$work/payload/"
python3 -c 'import os,sys; open(sys.argv[1],"wb").write(os.urandom(int(sys.argv[2])))' "$work/payload/data.bin" "$size"
z() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's#/#\\#g')"; }
ORVANE_KEEP_PREFIX=1 bash tools/wine-harness.sh "$build" wine "$build/tools/mkpackage/mkpackage.exe" \
    --source "$(z "$work/payload")" --out "$(z "$mirrors/www/download/bench_setup.exe")" --level 1 \
    --uninstaller "$(z "$build/standins/unins000.exe")" --folder-name Orvane --product-name Orvane \
    --version 1.0.0.0 >/dev/null
urls=()
for i in 2 3 4 5 6 7; do urls+=(--url "https://$net.$i/download/bench_setup.exe"); done
urls+=(--url "https://$net.8/download/dl.tarvex.com/bench_setup.exe")
python3 tools/manifests/make_manifest.py --package "$mirrors/www/download/bench_setup.exe" --name bench_setup.exe \
    "${urls[@]}" --out "$work/manifest.xml"
cmake -S . -B "$build" -DORVANE_INSTALL_BENCH_MANIFEST="$work/manifest.xml" >/dev/null
cmake --build "$build" -j8 --target installbench >/dev/null

trap 'python3 tests/downloader/mirror_fixture.py stop "$mirrors" >/dev/null 2>&1 || true' EXIT
python3 tests/downloader/mirror_fixture.py start "$mirrors" --net "$net" --lifetime 900 --rate "$rate" --big-size 5
echo "package: $(stat -c %s "$mirrors/www/download/bench_setup.exe") bytes; mirrors $net.2-$net.8, $rate bytes/s per connection"
results="$work/results"
rm -rf "$results" && mkdir -p "$results"
ORVANE_KEEP_PREFIX=1 bash tools/wine-harness.sh "$build" bash -c '
    dl=$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -name Downloads | head -n 1)
    rm -rf "$dl/Tarvex"
    rm -rf "$WINEPREFIX/drive_c/bench"
    wine "$1" "C:\\bench\\Orvane" "C:\\bench\\install.log" </dev/null >"$4/install.txt"
    wine "$2" "$3" "C:\\bench\\engine.bin" --deadline 600 </dev/null >"$4/engine.txt"
    rm -f "$WINEPREFIX/drive_c/bench/engine.bin"' bench "$build/tools/installbench/installbench.exe" \
    "$build/tools/dlbench/dlbench.exe" "$(z "$work/manifest.xml")" "$results"
grep -aE " ms *:|^result" "$results/install.txt"
python3 - "$results/install.txt" "$results/engine.txt" <<'PY'
import json, re, sys
install = dict(re.findall(r"^(\w+) ms\s*: (\d+)", open(sys.argv[1], errors="replace").read(), re.M))
engine = [l for l in open(sys.argv[2], errors="replace") if l.startswith("{")]
engine = json.loads(engine[-1]) if engine else {}
share = (int(install.get("download", 0)) + int(install.get("verify", 0))) / 1000
print("engine alone: %s in %.2f s (probing %.2f s, %.2f MB/s after it), the same manifest, mirrors and caps"
      % (engine.get("state", "no output"), engine.get("wall_s", 0), engine.get("probe_s", 0),
         engine.get("goodput_MBps", 0)))
print("download share of the install: %.2f s (download %.2f s + verify %.2f s) against the engine's %.2f s"
      % (share, int(install.get("download", 0)) / 1000, int(install.get("verify", 0)) / 1000,
         engine.get("wall_s", 0)))
PY
