#!/usr/bin/env bash
# Makes 32-bit x86 Linux programs (Wine's i386 half) runnable on a kernel that
# refuses them, as some virtual machines' kernels do ("Exec format error"):
# such programs then run through qemu's user-mode emulator, registered with
# binfmt_misc. Does nothing where the kernel runs them itself. Needs root.
#
# qemu 7.2 (Debian 12's own) spends about 55 s starting each Wine process;
# the one in Debian's backports suite starts it in under a second, so that
# one is taken.
set -euo pipefail
loader=/lib/ld-linux.so.2
[ -x "$loader" ] || { echo "ia32-support: $loader is missing (libc6:i386)" >&2; exit 1; }
"$loader" --version >/dev/null 2>&1 && exit 0

emulator=/usr/bin/qemu-i386-static
version_ok() {
    [ -x "$emulator" ] || return 1
    local major
    major=$("$emulator" --version | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
    [ -n "$major" ] && [ "$major" -ge 8 ]
}
if ! version_ok; then
    suite="$(. /etc/os-release && echo "$VERSION_CODENAME")-backports"
    list=/etc/apt/sources.list.d/orvane-backports.sources
    if [ ! -f "$list" ]; then
        printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "$suite" > "$list"
        apt-get update -q
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -t "$suite" qemu-user-static
    version_ok || { echo "ia32-support: no usable qemu-i386-static" >&2; exit 1; }
fi

misc=/proc/sys/fs/binfmt_misc
[ -e "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc"
# The handler keeps the emulator it was registered with open ("F"), so an
# upgraded emulator needs a new registration.
if [ -e "$misc/qemu-i386" ]; then echo -1 > "$misc/qemu-i386"; fi
# ELF, 32-bit, little-endian, executable or shared object, machine i386.
echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$emulator"':F' \
    > "$misc/register"
"$loader" --version >/dev/null 2>&1 || { echo "ia32-support: i386 programs still do not run" >&2; exit 1; }
echo "ia32-support: i386 programs run through $("$emulator" --version | head -1)"
