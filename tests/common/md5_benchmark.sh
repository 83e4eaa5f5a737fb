#!/usr/bin/env bash
# md5_benchmark.sh BUILD_DIR [MIB]
# MD5 throughput of Md5Hasher under Wine next to md5sum and openssl md5 on
# the same file (256 MiB of random bytes by default). Run it inside the
# harness, which provides the Wine prefix:
#   bash tools/wine-harness.sh build/NAME bash tests/common/md5_benchmark.sh build/NAME
set -euo pipefail
build=$(cd "$1" && pwd)
mib=${2:-256}
exe="$build/tests/common/common_md5_benchmark.exe"
[ -f "$exe" ] || { echo "build common_md5_benchmark first" >&2; exit 1; }
work=$(mktemp -d "$build/md5bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
file="$work/data.bin"
head -c $((mib * 1024 * 1024)) /dev/urandom > "$file"
cat "$file" > /dev/null  # into the page cache, for every contender alike

rate() {  # rate SECONDS
    awk -v s="$1" -v m="$mib" 'BEGIN { printf "%8.1f MiB/s  %6.3f s", m / s, s }'
}
timed() {  # timed COMMAND... ; prints seconds and the first word of its output
    local start end out
    start=$(date +%s.%N)
    out=$("$@" | awk '{ print $1 }')
    end=$(date +%s.%N)
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $out"
}

echo "MD5 over $mib MiB:"
read -r s d < <(timed md5sum "$file"); echo "md5sum                 $(rate "$s")  $d"
read -r s d < <(timed sh -c "openssl md5 -r '$file'"); echo "openssl md5            $(rate "$s")  $d"
wine "$exe" "$(winepath -w "$file")" </dev/null 2>/dev/null | tr -d '\r'
