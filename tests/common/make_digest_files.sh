#!/usr/bin/env bash
# make_digest_files.sh OUTDIR
# Writes the files the digest tests hash and, next to each, the digests the
# host's md5sum gives for it:
#   blocks.bin  2.5 MiB of varied bytes; blocks.md5: whole file, then each MiB
#   sparse.bin  600 MiB, sparse, with marks around the 512 MiB line where a
#               32-bit bit counter would overflow; sparse.md5: whole file
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"

head -c $((5 * 512 * 1024)) < <(yes 'the quick brown fox 0123456789 jumps over the lazy dog' | tr -d '\n' | tr 'a-z' 'b-za') > blocks.bin
{
    md5sum < blocks.bin | cut -d' ' -f1
    for i in 0 1 2; do
        dd if=blocks.bin bs=1048576 skip=$i count=1 status=none | md5sum | cut -d' ' -f1
    done
} > blocks.md5

rm -f sparse.bin
truncate -s $((600 * 1024 * 1024)) sparse.bin
for offset in 0 $((512 * 1024 * 1024 - 5)) $((512 * 1024 * 1024 + 4096)) $((600 * 1024 * 1024 - 3)); do
    printf 'mark' | dd of=sparse.bin bs=1 seek=$offset conv=notrunc status=none
done
truncate -s $((600 * 1024 * 1024)) sparse.bin
md5sum < sparse.bin | cut -d' ' -f1 > sparse.md5
