#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the installer.
# Needs root; does nothing when everything is already there.
set -euo pipefail
need=(g++-mingw-w64-i686-posix libz-mingw-w64-dev libboost-dev
      wine wine32:i386 wine64 libgnutls30:i386
      xvfb xauth x11-apps imagemagick xdotool nginx
      cmake ninja-build make pkg-config dpkg-dev perl python3 openssl googletest locales)
missing=()
for p in "${need[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
have_src=0
grep -rqs '^Types: deb-src' /etc/apt/sources.list.d/ && have_src=1
if [ ${#missing[@]} -eq 0 ] && [ $have_src = 1 ]; then
    exec bash "$(dirname "$0")/ia32-support.sh"
fi

dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
if [ $have_src = 0 ]; then
    # Source entries for every binary entry, the security suite included, so
    # apt-get source gives the same versions as the binary packages.
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            > /etc/apt/sources.list.d/orvane-src.sources
    else
        grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > /etc/apt/sources.list.d/orvane-src.list
    fi
fi
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
bash "$(dirname "$0")/ia32-support.sh"
