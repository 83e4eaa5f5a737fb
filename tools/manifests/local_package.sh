#!/usr/bin/env bash
# local_package.sh OUT_DIR NET MKPACKAGE_EXE STANDINS_DIR UNINSTALLER
# Builds the package the local mirrors serve (the stand-in product files as
# payload, made by the project's package builder under Wine) and the
# manifests naming the loopback mirrors NET.2 to NET.8 with its real digests:
#   OUT_DIR/www/download/orvane_setup.exe   the package
#   OUT_DIR/manifest_local.xml              mirrors NET.2-NET.7 and the fallback on NET.8
#   OUT_DIR/manifest_dead.xml               the same package on addresses nobody serves
set -euo pipefail
out=$1 net=$2 mkpackage=$3 standins=$4 uninstaller=$5
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
mkdir -p "$out/payload/Data" "$out/www/download"
cp "$standins/orvane.exe" "$standins/orvane32.dll" "$out/payload/"
printf 'Orvane stand-in data\r\n' >"$out/payload/Data/readme.txt"
name=orvane_setup.exe
z() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's#/#\\#g')"; }
ORVANE_KEEP_PREFIX=1 bash "$root/tools/wine-harness.sh" "$out" \
    wine "$mkpackage" --source "$(z "$out/payload")" --out "$(z "$out/www/download/$name.new")" \
    --uninstaller "$(z "$uninstaller")" --folder-name Orvane --product-name Orvane --version 1.0.0.0 \
    --display-name Orvane --release-date 2026-12-01 --info-url "https://www.tarvex.com/orvane/" \
    --publisher "Tarvex" >/dev/null
mv -f "$out/www/download/$name.new" "$out/www/download/$name"
urls=()
for i in 2 3 4 5 6 7; do urls+=(--url "https://$net.$i/download/$name"); done
urls+=(--url "https://$net.8/download/dl.tarvex.com/$name")
python3 "$here/make_manifest.py" --package "$out/www/download/$name" --name "$name" "${urls[@]}" \
    --out "$out/manifest_local.xml"
dead=()
for i in 20 21 22 23 24 25; do dead+=(--url "https://$net.$i/download/$name"); done
dead+=(--url "https://$net.26/download/dl.tarvex.com/$name")
python3 "$here/make_manifest.py" --package "$out/www/download/$name" --name "$name" "${dead[@]}" \
    --out "$out/manifest_dead.xml"
