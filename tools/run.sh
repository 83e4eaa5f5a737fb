#!/usr/bin/env bash
# The main job: installs what the machine lacks, builds the installer whose
# download manifests name local mirrors, starts those mirrors (HTTPS on
# loopback, serving a package built here from the stand-in product) and the
# statistics and analytics services, runs the installer under Wine on a private Xvfb display
# and lets its countdown start the install. The mirrors serve one package for
# each product: the harness's 64-bit Windows gets the 64-bit one ("Orvane
# (x64)"), a 32-bit Windows the 32-bit one. Then it shows the result: the
# product's files, the uninstall entry, the shortcuts, the install log, the
# statistics reports received and a screenshot of the last page, and starts
# the installer once more to show it reading back the settings the install
# stored. While the installer works it prints a line every few seconds: the
# page the install log shows and the bytes the mirrors have served. Every
# process it started is ended by PID.
#   RUN_WAIT=seconds   how long the install may take (default 300)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build/run}
wait_s=${RUN_WAIT:-300}

bash tools/setup-machine.sh
bash tools/deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DORVANE_LOCAL_MIRRORS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target setup
build=$(cd "$build" && pwd)
net=$(sed -n 's/^ORVANE_MIRROR_NET:STRING=//p' "$build/CMakeCache.txt")
port=$(sed -n 's/^ORVANE_LOCAL_STATS_PORT:STRING=//p' "$build/CMakeCache.txt")
mirrors="$build/local-mirrors"
out="$build/run-result"
rm -rf "$out" && mkdir -p "$out"

services="$out/stats-service"
stop_all() {
    python3 tests/downloader/mirror_fixture.py stop "$mirrors" >/dev/null 2>&1 || true
    python3 tests/report/report_services.py stop --state-dir "$services" >/dev/null 2>&1 || true
}
trap stop_all EXIT
python3 tests/downloader/mirror_fixture.py start "$mirrors" --net "$net" --lifetime $((wait_s + 600)) --big-size 5
python3 tests/report/report_services.py start --state-dir "$services" --lifetime $((wait_s + 600)) \
    --listen "stats=stats@$net.109:$port" --listen "analytics=analytics@$net.110:$port"
echo "mirrors: https://$net.2 ... https://$net.8 serving $mirrors/www/download/orvane_setup.exe (32-bit)" \
    "and orvane_setup_x64.exe (64-bit)"
echo "statistics service: http://$net.109:$port, analytics service: http://$net.110:$port"

ORVANE_KEEP_PREFIX=1 bash tools/wine-harness.sh "$build" bash -s "$build/setup/OrvaneSetup.exe" "$out" "$wait_s" \
    "$root" "$mirrors" <<'SH'
set -u
exe=$1 out=$2 wait_s=$3 root=$4 mirrors=$5
drive_c="$WINEPREFIX/drive_c"
# The product this Windows gets: the 64-bit one on a 64-bit Windows, whose
# uninstall key and display name carry " (x64)" and whose folder is the
# native Program Files.
if [ -d "$drive_c/windows/syswow64" ]; then
    package="$mirrors/www/download/orvane_setup_x64.exe" key='Orvane (x64)'
    echo "64-bit Windows: the installer takes the 64-bit product's manifest (resource 502)"
else
    package="$mirrors/www/download/orvane_setup.exe" key='Orvane'
    echo "32-bit Windows: the installer takes the 32-bit product's manifest (resource 501)"
fi
entry="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$key"
package_size=$(stat -c %s "$package")
find_log() { find -L "$HOME" "$drive_c/users" -name install.log -path "*Tarvex/Orvane/Log*" 2>/dev/null | head -n 1; }
# What the install log says of the page, from its latest milestone.
page_of() {
    local log=$1 line
    line=$(grep -aoE "Finish\(AfterInstall\)|Install File FAILED|Install stopped|Download Failed|Refresh Icons Finish|Begin depack file|Begin install\.\.\.|Url : |OnBtnInstall\(OnInstall\)" "$log" 2>/dev/null | tail -n 1)
    case "$line" in
        "Finish(AfterInstall)") echo "finished page" ;;
        "Install File FAILED"*|"Install stopped"*|"Download Failed"*) echo "failed ($line)" ;;
        "Refresh Icons Finish") echo "working page: shortcuts done, product steps and registration" ;;
        "Begin depack file") echo "working page: emptying the folder and extracting" ;;
        "Begin install...") echo "working page: package downloaded and verified, installing" ;;
        "Url : "|"OnBtnInstall(OnInstall)") echo "working page: downloading" ;;
        *) echo "ready page, the countdown runs" ;;
    esac
}
# Bytes the mirrors have sent so far, from their request logs.
served() {
    cat "$mirrors/requests.log" "$mirrors/nginx-requests.log" 2>/dev/null | grep -ao '"bytes":[0-9]*' \
        | awk -F: '{ s += $2 } END { printf "%d", s }'
}
old=$(find_log); [ -n "$old" ] && rm -f "$old"
wine "$exe" </dev/null >"$out/installer-output.txt" 2>&1 &
pid=$!
echo "installer started (pid $pid) on display $DISPLAY; the countdown starts the install after about 31 s"
start=$SECONDS end=$((SECONDS + wait_s)); shot_taken=0 next_report=$SECONDS
served_before=$(served)
while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $end ]; do
    log=$(find_log)
    if [ $SECONDS -ge $next_report ]; then
        bytes=$(( $(served) - served_before ))
        percent=$(( package_size > 0 ? bytes * 100 / package_size : 0 ))
        [ $percent -gt 100 ] && percent=100
        printf '[%4d s] %s; mirrors served %d of %d bytes (%d %%)\n' $((SECONDS - start)) \
            "$(page_of "$log")" "$bytes" "$package_size" "$percent"
        next_report=$((SECONDS + 5))
    fi
    if [ -n "$log" ] && grep -aqE "Finish\(AfterInstall\)|Download Failed|Install File FAILED|Install stopped" "$log"; then
        sleep 3
        printf '[%4d s] %s\n' $((SECONDS - start)) "$(page_of "$log")"
        bash "$root/tools/screenshot.sh" "$DISPLAY" "$out/last-page.png" && shot_taken=1
        break
    fi
    sleep 2
done
if kill -0 "$pid" 2>/dev/null; then
    [ $shot_taken = 1 ] || bash "$root/tools/screenshot.sh" "$DISPLAY" "$out/last-page.png" || true
    # Close the dialog as a user would, then end it if it does not go.
    timeout 30 wine taskkill /IM OrvaneSetup.exe >/dev/null 2>&1 || true
    for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 1; done
    kill "$pid" 2>/dev/null || true
fi
wait "$pid" 2>/dev/null; echo "installer exit code: $?"

# The folder the uninstall entry names (a C: path), else the usual ones.
location=$(timeout 60 wine reg query "$entry" /v InstallLocation 2>/dev/null | tr -d '\r' \
    | sed -n 's/^ *InstallLocation *REG_SZ *//p')
case "$location" in
    [Cc]:\\*) folder="$drive_c/$(printf '%s' "${location:3}" | tr '\\' /)" ;;
    *) folder="$drive_c/Program Files/Tarvex/Orvane" ;;
esac
echo; echo "== product files in $folder"
if [ -d "$folder" ]; then (cd "$folder" && find . -type f -printf '%8s  %p\n' | sort -k2); else echo "(none)"; fi
echo; echo "== uninstall entry $key"
timeout 60 wine reg query "$entry" /s 2>/dev/null | tr -d '\r' | grep -v '^$' || echo "(none)"
echo; echo "== shortcuts"
# The user's folders are links into one home: each link once, by its real path.
find -L "$HOME" "$drive_c/users" "$drive_c/ProgramData" -iname '*.lnk' -ipath '*orvane*' -exec realpath {} + \
    2>/dev/null | sort -u || true
echo; log=$(find_log)
echo "== install log: $log"
# The log is in the ANSI code page (1252 here); shown without the engine's lines.
[ -n "$log" ] && iconv -f CP1252 -t UTF-8 <"$log" | tr -d '\r' | grep -av '^$' | cut -c1-200 | tee "$out/install.log" \
    | grep -av "Download_" | grep -avx ')\.' || true

# The next run reads back the settings the install stored under its key.
echo; echo "== the next run"
reads() { local n; n=$(grep -ac "Read Setup Cfg Flag" "$(find_log)" 2>/dev/null); echo "${n:-0}"; }
before=$(reads)
wine "$exe" </dev/null >"$out/installer-output-2.txt" 2>&1 &
pid=$!
for _ in $(seq 60); do [ "$(reads)" -gt "$before" ] && break; sleep 1; done
timeout 30 wine taskkill /IM OrvaneSetup.exe >/dev/null 2>&1 || true
for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 1; done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null
grep -a "Setup Cfg Flag" "$(find_log)" 2>/dev/null | tr -d '\r' || echo "(no line)"
SH

echo; echo "== statistics reports received"
python3 - "$net.109" "$port" <<'PY' | tee "$out/stats-reports.txt"
import json, sys, urllib.request
host, port = sys.argv[1], sys.argv[2]
data = json.load(urllib.request.urlopen("http://%s:%s/_control/requests" % (host, port), timeout=10))
reqs = data.get("requests", [])
print("%d request(s)" % len(reqs))
for r in reqs:
    text = json.dumps(r)
    print(text[:600] + (" ..." if len(text) > 600 else ""))
PY
echo
echo "results in $out: install.log, stats-reports.txt, last-page.png, installer-output.txt"
