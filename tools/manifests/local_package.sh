#!/usr/bin/env bash
# local_package.sh OUT_DIR NET MKPACKAGE_EXE STANDINS_DIR UNINSTALLER
# Builds the packages the local mirrors serve (the stand-in product files and
# the product's companion files as payload, made by the project's package
# builder under Wine), one for each product, and the manifests naming the
# loopback mirrors NET.2 to NET.8 with their real digests:
#   OUT_DIR/www/download/orvane_setup.exe       the 32-bit product's package
#   OUT_DIR/www/download/orvane_setup_x64.exe   the 64-bit product's package (header flag set)
#   OUT_DIR/manifest_local.xml                  the 32-bit package: mirrors NET.2-NET.7, fallback NET.8
#   OUT_DIR/manifest_local_x64.xml              the 64-bit package on the same mirrors
#   OUT_DIR/manifest_dead.xml                   the 32-bit package on addresses nobody serves
set -euo pipefail
out=$1 net=$2 mkpackage=$3 standins=$4 uninstaller=$5
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
rm -rf "$out/payload"
mkdir -p "$out/payload/Data" "$out/www/download"
cp "$standins/orvane.exe" "$standins/orvane32.dll" "$out/payload/"
# The companion files a full install handles: the two drivers (copied into
# the system's drivers folder) and the product library (set aside on
# uninstall). Only their names matter to the installer, never their contents.
printf 'Orvane stand-in driver\r\n' >"$out/payload/orvane.sys"
printf 'Tarvex stand-in I/O driver\r\n' >"$out/payload/tarvexio.sys"
cp "$standins/orvane32.dll" "$out/payload/orvane.dll"
printf 'Orvane stand-in data\r\n' >"$out/payload/Data/readme.txt"
z() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's#/#\\#g')"; }

# package NAME [--x64]: the payload as OUT_DIR/www/download/NAME.
package() {
    local name=$1; shift
    ORVANE_KEEP_PREFIX=1 bash "$root/tools/wine-harness.sh" "$out" \
        wine "$mkpackage" --source "$(z "$out/payload")" --out "$(z "$out/www/download/$name.new")" \
        --uninstaller "$(z "$uninstaller")" --folder-name Orvane --product-name Orvane --version 1.0.0.0 \
        --display-name Orvane --release-date 2026-12-01 --info-url "https://www.tarvex.com/orvane/" \
        --publisher "Tarvex" "$@" >/dev/null
    mv -f "$out/www/download/$name.new" "$out/www/download/$name"
}

# manifest NAME OUT FIRST_HOST: hosts NET.FIRST to NET.FIRST+5 and the
# fallback on NET.FIRST+6, serving NAME.
manifest() {
    local name=$1 xml=$2 first=$3 urls=() i
    for i in $(seq "$first" $((first + 5))); do urls+=(--url "https://$net.$i/download/$name"); done
    urls+=(--url "https://$net.$((first + 6))/download/dl.tarvex.com/$name")
    python3 "$here/make_manifest.py" --package "$out/www/download/$name" --name "$name" "${urls[@]}" --out "$xml"
}

package orvane_setup.exe
package orvane_setup_x64.exe --x64
manifest orvane_setup.exe "$out/manifest_local.xml" 2
manifest orvane_setup_x64.exe "$out/manifest_local_x64.xml" 2
manifest orvane_setup.exe "$out/manifest_dead.xml" 20
