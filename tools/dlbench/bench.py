#!/usr/bin/env python3
"""Download benchmark: the engine (dlbench.exe under Wine) side by side with
native aria2c (Metalink with the same 1 MiB MD5 pieces, the same mirrors and
connections per mirror), on loopback mirrors, in one run.

  bash tools/wine-harness.sh PREFIX_DIR python3 tools/dlbench/bench.py BUILD [--repeat N] [--only NAME,...]

BUILD holds tools/dlbench/dlbench.exe; PREFIX_DIR is where the harness keeps
its Wine prefix (a build folder of its own lets the benchmark run beside a
test run of BUILD). A 48 MiB file, 5 mirrors x 2 connections. Prints one JSON
line per run, then a table: the ratio engine/peer is the peer's end-to-end
wall time over the engine's (probing included), so 1.0 is parity and more is
faster. Not a test: it only measures. Needs aria2c (Debian package aria2).
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURE_DIR = os.path.join(HERE, "..", "..", "tests", "downloader")
FIXTURE = os.path.join(FIXTURE_DIR, "mirror_fixture.py")
sys.path.insert(0, FIXTURE_DIR)
import mirror_fixture  # noqa: E402

SIZE = 48 * 1024 * 1024
BLOCK = 1048576
PER_MIRROR = 2
RUN_LIMIT = 240  # seconds any one download may take
MB = 1000000
STALL_AFTER = 1500000


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def digests(path):
    whole, blocks = hashlib.md5(), []
    with open(path, "rb") as f:
        while True:
            chunk = f.read(BLOCK)
            if not chunk:
                break
            whole.update(chunk)
            blocks.append(hashlib.md5(chunk).hexdigest().upper())
    return whole.hexdigest().upper(), blocks


def manifest(urls, size, whole, blocks):
    x = '<?xml version="1.0" encoding="utf-8"?>\n<download size="%d" name="bench/big.bin" version="1">\n' % size
    x += '\t<url size="%d">\n' % len(urls)
    for i, u in enumerate(urls):
        x += '\t\t<item_%d value="%s"/>\n' % (i, u)
    x += '\t</url>\n\t<hash size="%d">\n\t\t<item_0 value="%s"/>\n' % (len(blocks) + 1, whole)
    for i, b in enumerate(blocks):
        x += '\t\t<item_%d value="%s"/>\n' % (i + 1, b)
    return x + "\t</hash>\n</download>\n"


def metalink(urls, size, whole, blocks):
    x = '<?xml version="1.0" encoding="UTF-8"?>\n<metalink xmlns="urn:ietf:params:xml:ns:metalink">\n'
    x += ' <file name="big.bin">\n  <size>%d</size>\n  <hash type="md5">%s</hash>\n' % (size, whole.lower())
    x += '  <pieces length="%d" type="md5">\n' % BLOCK
    for b in blocks:
        x += "   <hash>%s</hash>\n" % b.lower()
    x += "  </pieces>\n"
    for u in urls:
        x += '  <url priority="1">%s</url>\n' % u
    return x + " </file>\n</metalink>\n"


class Logs:
    """What the mirrors logged from now on."""

    def __init__(self, root):
        self.root = root
        self.marks = {n: self.size(n) for n in ("requests.log", "nginx-requests.log")}

    def size(self, name):
        try:
            return os.path.getsize(os.path.join(self.root, name))
        except OSError:
            return 0

    def entries(self):
        out = []
        for name, mark in self.marks.items():
            try:
                with open(os.path.join(self.root, name), "rb") as f:
                    f.seek(mark)
                    out += [json.loads(line) for line in f.read().decode().splitlines() if line.strip()]
            except OSError:
                pass
        return sorted(out, key=lambda e: e["t"])

    def sent(self):
        return sum(int(e.get("bytes", 0)) for e in self.entries())

    def recovery(self, host, rate):
        """Seconds from the first reply going silent on host to the first
        request elsewhere for bytes it kept back, or None."""
        entries = [e for e in self.entries() if e["method"] == "GET" and e["range"].startswith("bytes=")]

        def span(e):
            a, _, b = e["range"][6:].partition("-")
            return int(a), int(b) if b else SIZE - 1

        silent = [e for e in entries if e["host"] == host and e["bytes"] == STALL_AFTER]
        if not silent:
            return None
        first = silent[0]
        silent_at = first["t"] + STALL_AFTER / rate
        kept_from, kept_to = span(first)[0] + STALL_AFTER, span(first)[1]
        later = [o["t"] for o in entries if o["host"] != host and o["t"] > first["t"] and
                 kept_from <= span(o)[0] <= kept_to]
        return (min(later) - silent_at) if later else None


def md5_of(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest().upper()


def run_engine(build, work, root, urls, whole, blocks):
    m = os.path.join(work, "manifest.xml")
    with open(m, "w") as f:
        f.write(manifest(urls, SIZE, whole, blocks))
    target = os.path.join(work, "engine.bin")
    exe = os.path.join(build, "tools", "dlbench", "dlbench.exe")
    logs = Logs(root)
    p = subprocess.run(["wine", exe, winpath(m), winpath(target), "--deadline", str(RUN_LIMIT)],
                       capture_output=True, text=True, timeout=RUN_LIMIT + 60)
    line = [l for l in p.stdout.splitlines() if l.startswith("{")]
    r = json.loads(line[-1]) if line else {"state": "no-output", "stderr": p.stderr[-400:]}
    r["logs"] = logs
    return r


def run_aria2(work, root, urls, whole, blocks):
    ml = os.path.join(work, "big.meta4")
    with open(ml, "w") as f:
        f.write(metalink(urls, SIZE, whole, blocks))
    out = os.path.join(work, "aria2", "big.bin")
    shutil.rmtree(os.path.dirname(out), ignore_errors=True)
    cmd = ["aria2c", "--metalink-file=" + ml, "--dir=" + os.path.dirname(out),
           "--max-connection-per-server=%d" % PER_MIRROR, "--split=%d" % (len(urls) * PER_MIRROR),
           "--min-split-size=1M", "--check-certificate=false", "--allow-overwrite=true", "--file-allocation=none",
           "--quiet=true", "--check-integrity=true", "--console-log-level=error", "--summary-interval=0"]
    logs = Logs(root)
    t0 = time.time()
    try:
        rc = subprocess.run(cmd, capture_output=True, timeout=RUN_LIMIT).returncode
    except subprocess.TimeoutExpired:
        rc = "timeout"
    wall = time.time() - t0
    ok = rc == 0 and os.path.exists(out) and md5_of(out) == whole
    return {"state": "succeed" if ok else "failed(%s)" % rc, "wall_s": round(wall, 3), "logs": logs}


def scenarios(net):
    ngx = ["%s.%d" % (net, i) for i in (2, 3, 4, 5, 10)]
    own = ["%s.%d" % (net, i) for i in (6, 7, 8, 9, 11)]
    capped = {h: {"rate": 2 * MB} for h in own}

    def with_(base, host, extra):
        s = {h: dict(v) for h, v in base.items()}
        s[host].update(extra)
        return s

    # name, nginx rate per connection, scenario, hosts, https, target, note
    return [
        ("uniform 1 MB/s per connection, HTTP", MB, {}, ngx, False, ">= 0.97"),
        ("uniform 1 MB/s per connection, HTTPS", MB, {}, ngx, True, ">= 0.97"),
        ("heterogeneous 4/2/1/0.5/0.25 MB/s", 0,
         {h: {"rate": r} for h, r in zip(own, (4 * MB, 2 * MB, MB, MB // 2, MB // 4))}, own, False, ""),
        ("per-host cap 2 MB/s", 0, {h: {"host_rate": 2 * MB} for h in own}, own, False, ">= 0.97"),
        ("0.3 s before every response", 0, {h: {"latency": 0.3, "rate": 2 * MB} for h in own}, own, False, ">= 0.97"),
        ("baseline 2 MB/s per connection", 0, capped, own, False, ""),
        ("one mirror silent mid-range", 0, with_(capped, own[0], {"stall_after": STALL_AFTER}), own, False,
         "recovered <= 8 s"),
        ("two mirrors stall every response", 0,
         with_(with_(capped, own[0], {"stall_after": 65536}), own[1], {"stall_after": 65536}), own, False, ""),
        ("a HEAD that never answers", 0, with_(capped, own[0], {"head_hang": True}), own, False,
         "costs <= 6 s"),
        ("unthrottled, HTTP", 0, {}, ngx, False, ">= 0.5"),
        ("unthrottled, HTTPS", 0, {}, ngx, True, ">= 0.5"),
    ]


def main():
    args = sys.argv[1:]
    build = os.path.abspath(args[0])
    repeat = int(args[args.index("--repeat") + 1]) if "--repeat" in args else 1
    only = args[args.index("--only") + 1].split(",") if "--only" in args else None
    root = os.path.join(build, "bench-mirrors")
    work = os.path.join(build, "bench-work")
    os.makedirs(work, exist_ok=True)
    net = mirror_fixture.net_for(root)  # addresses of this folder's own, apart from the tests' mirrors
    rows = []
    baseline_probe = None
    baseline = (0.0, 0.0)
    for name, rate, scen, hosts, https, target in scenarios(net):
        if only and not any(o in name for o in only):
            continue
        subprocess.run([sys.executable, FIXTURE, "start", root, "--net", net, "--lifetime", "1800", "--rate", str(rate),
                        "--big-size", str(SIZE)], check=True)
        try:
            with open(os.path.join(root, "scenario.json"), "w") as f:
                json.dump(scen, f)
            whole, blocks = digests(os.path.join(root, "www", "download", "big.bin"))
            scheme = "https" if https else "http"
            urls = ["%s://%s/download/big.bin" % (scheme, h) for h in hosts]
            runs = {"engine": [], "aria2c": []}
            for _ in range(repeat):
                runs["engine"].append(run_engine(build, work, root, urls, whole, blocks))
                runs["aria2c"].append(run_aria2(work, root, urls, whole, blocks))
            for tool, rs in runs.items():
                for r in rs:
                    print(json.dumps({"scenario": name, "tool": tool,
                                      **{k: v for k, v in r.items() if k != "logs"}}), flush=True)
            e = sorted(runs["engine"], key=lambda r: r.get("wall_s", 1e9))[len(runs["engine"]) // 2]
            a = sorted(runs["aria2c"], key=lambda r: r.get("wall_s", 1e9))[len(runs["aria2c"]) // 2]
            ew, aw = e.get("wall_s", 0) or 0, a.get("wall_s", 0) or 0
            extra = ""
            if "silent" in name or "stall" in name:
                rec_e = e["logs"].recovery(hosts[0], 2 * MB) if "silent" in name else None
                rec_a = a["logs"].recovery(hosts[0], 2 * MB) if "silent" in name else None
                fmt = lambda v: "%.1f" % v if v is not None else "-"
                extra = "over the baseline: engine +%.1f s, aria2c +%.1f s" % (ew - baseline[0], aw - baseline[1])
                if "silent" in name:
                    extra += "; kept-back bytes first asked elsewhere after engine %s s, aria2c %s s" % (
                        fmt(rec_e), fmt(rec_a))
            if name.startswith("baseline"):
                baseline_probe = e.get("probe_s", 0)
                baseline = (ew, aw)
            if "HEAD" in name and baseline_probe is not None:
                extra = "probing %.1f s longer than the baseline" % (e.get("probe_s", 0) - baseline_probe)
            rows.append((name, ew, aw, aw / ew if ew else 0, e.get("probe_s", 0), target, extra,
                         "%s/%s" % (e.get("state"), a.get("state")), e.get("repairs", 0)))
        finally:
            subprocess.run([sys.executable, FIXTURE, "stop", root])
    print()
    print("48 MiB, 5 mirrors x 2 connections; wall time from start to verified file, probing included.")
    print("| scenario | engine s | aria2c s | engine/aria2c | engine probing s | target | notes | states (engine/aria2c) |")
    print("|---|---|---|---|---|---|---|---|")
    for name, ew, aw, ratio, probe, target, extra, states, repairs in rows:
        print("| %s | %.2f | %.2f | %.2f | %.2f | %s | %s | %s |" % (name, ew, aw, ratio, probe, target, extra, states))


if __name__ == "__main__":
    main()
