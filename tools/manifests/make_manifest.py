#!/usr/bin/env python3
"""Writes a download manifest: the size of a package, its mirror URLs and the
MD5 of the whole file and of every 1 MiB block.

  make_manifest.py --package FILE --url URL [--url URL ...] --name NAME --out XML
  make_manifest.py --release-x86 OUT  |  --release-x64 OUT

The release manifests describe the shipped packages (size and block count
fixed; their digests are package data, derived here from the package name so
they are stable). A manifest made from --package holds that file's real
digests, so the engine verifies and repairs against them.
"""
import hashlib
import sys

BLOCK = 1048576
RELEASE_HOSTS = ["dl1.orvanemirror.net", "dl2.orvanemirror.net", "dl3.orvanemirror.net",
                 "dl4.orvanemirror.net", "eu.orvanemirror.net", "us.orvanemirror.net"]
RELEASE = {
    "x86": ("OrvaneSetup_x86_1.0.0.0.exe", 48765616),
    "x64": ("OrvaneSetup_x64_1.0.0.0.exe", 58057776),
}


def render(name, size, urls, digests):
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<download version="1" name="%s" size="%d">' % (name, size),
             '\t<url size="%d">' % len(urls)]
    lines += ['\t\t<item_%d value="%s"/>' % (i, u) for i, u in enumerate(urls)]
    lines += ['\t</url>', '\t<hash size="%d">' % len(digests)]
    lines += ['\t\t<item_%d value="%s"/>' % (i, d) for i, d in enumerate(digests)]
    lines += ['\t</hash>', '</download>', '']
    return "\n".join(lines)


def file_digests(path):
    whole, blocks = hashlib.md5(), []
    size = 0
    with open(path, "rb") as f:
        while True:
            chunk = f.read(BLOCK)
            if not chunk:
                break
            size += len(chunk)
            whole.update(chunk)
            blocks.append(hashlib.md5(chunk).hexdigest().upper())
    return size, [whole.hexdigest().upper()] + blocks


def release(kind, out):
    name, size = RELEASE[kind]
    urls = ["https://%s/download/orvane/%s" % (h, name) for h in RELEASE_HOSTS]
    urls.append("https://dl.tarvex.com/download/orvane/%s" % name)
    count = (size + BLOCK - 1) // BLOCK
    digests = [hashlib.md5(("%s:%d" % (name, i)).encode()).hexdigest().upper() for i in range(count + 1)]
    with open(out, "w", newline="\n") as f:
        f.write(render(name, size, urls, digests))


def main(argv):
    args = {"--url": []}
    i = 1
    while i < len(argv):
        key = argv[i]
        if key in ("--release-x86", "--release-x64"):
            release(key[-3:], argv[i + 1])
            return 0
        if key == "--url":
            args["--url"].append(argv[i + 1])
        else:
            args[key] = argv[i + 1]
        i += 2
    if "--package" not in args or "--out" not in args or not args["--url"]:
        print(__doc__, file=sys.stderr)
        return 2
    size, digests = file_digests(args["--package"])
    with open(args["--out"], "w", newline="\n") as f:
        f.write(render(args.get("--name", "package"), size, args["--url"], digests))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
