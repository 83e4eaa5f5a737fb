#!/usr/bin/env python3
"""Download benchmark: the engine (dlbench.exe under Wine) against native
aria2c (Metalink with the same 1 MiB MD5 pieces) and native curl (one
connection; parallel ranges), on the same loopback mirrors in the same run.

  bash tools/wine-harness.sh BUILD python3 tools/dlbench/bench.py BUILD

Prints one JSON line per run and a table of ratios. Not a test: it only
measures. Needs aria2c (Debian package aria2) and curl.
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURE = os.path.join(HERE, "..", "..", "tests", "downloader", "mirror_fixture.py")
SIZE = 32 * 1024 * 1024
BLOCK = 1048576
RUN_LIMIT = 180  # seconds any one download may take


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
    def __init__(self, root):
        self.root = root
        self.marks = {n: self.size(n) for n in ("requests.log", "nginx-requests.log")}

    def size(self, name):
        try:
            return os.path.getsize(os.path.join(self.root, name))
        except OSError:
            return 0

    def sent(self):
        total = 0
        for name, mark in self.marks.items():
            try:
                with open(os.path.join(self.root, name), "rb") as f:
                    f.seek(mark)
                    for line in f.read().decode().splitlines():
                        total += int(json.loads(line).get("bytes", 0))
            except OSError:
                pass
        return total


def md5_of(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest().upper()


def run_engine(build, work, root, urls, size, whole, blocks):
    m = os.path.join(work, "manifest.xml")
    with open(m, "w") as f:
        f.write(manifest(urls, size, whole, blocks))
    target = os.path.join(work, "engine.bin")
    exe = os.path.join(build, "tools", "dlbench", "dlbench.exe")
    p = subprocess.run(["wine", exe, winpath(m), winpath(target), "--deadline", str(RUN_LIMIT),
                        "--mirror-logs", winpath(root)], capture_output=True, text=True, timeout=RUN_LIMIT + 60)
    line = [l for l in p.stdout.splitlines() if l.startswith("{")]
    return json.loads(line[-1]) if line else {"state": "no-output", "stderr": p.stderr[-400:]}


def timed(cmd, root, out_path, size, whole):
    logs = Logs(root)
    t0 = time.time()
    try:
        p = subprocess.run(cmd, capture_output=True, timeout=RUN_LIMIT)
        rc = p.returncode
    except subprocess.TimeoutExpired:
        rc = "timeout"
    wall = time.time() - t0
    ok = rc == 0 and os.path.exists(out_path) and md5_of(out_path) == whole
    return {"state": "succeed" if ok else "failed(%s)" % rc, "wall_s": round(wall, 3),
            "goodput_MBps": round(size / wall / 1e6, 3), "waste": round(logs.sent() / size, 4)}


def run_aria2(work, root, urls, size, whole, blocks, per_server):
    ml = os.path.join(work, "big.meta4")
    with open(ml, "w") as f:
        f.write(metalink(urls, size, whole, blocks))
    out = os.path.join(work, "aria2", "big.bin")
    shutil.rmtree(os.path.dirname(out), ignore_errors=True)
    n = len(urls)
    cmd = ["aria2c", "--metalink-file=" + ml, "--dir=" + os.path.dirname(out),
           "--max-connection-per-server=%d" % per_server, "--split=%d" % (n * per_server), "--min-split-size=1M",
           "--check-certificate=false", "--allow-overwrite=true", "--file-allocation=none", "--quiet=true",
           "--check-integrity=true", "--console-log-level=error", "--summary-interval=0"]
    return timed(cmd, root, out, size, whole)


def run_curl_single(work, root, url, size, whole):
    out = os.path.join(work, "curl1.bin")
    return timed(["curl", "-sSk", "-o", out, url], root, out, size, whole)


def run_curl_ranges(work, root, urls, size, whole, per_server):
    # One native curl per range, all at once, then the parts joined.
    parts = len(urls) * per_server
    chunk = size // parts
    files = [os.path.join(work, "part%d" % i) for i in range(parts)]
    logs = Logs(root)
    t0 = time.time()
    procs = []
    for i in range(parts):
        a = i * chunk
        b = size - 1 if i == parts - 1 else a + chunk - 1
        procs.append(subprocess.Popen(["curl", "-sSk", "-r", "%d-%d" % (a, b), "-o", files[i], urls[i % len(urls)]]))
    rc = 0
    for p in procs:
        try:
            rc |= p.wait(timeout=max(1, RUN_LIMIT - (time.time() - t0)))
        except subprocess.TimeoutExpired:
            p.kill()
            rc = 1
    wall = time.time() - t0
    out = os.path.join(work, "curlN.bin")
    with open(out, "wb") as o:
        for f in files:
            if os.path.exists(f):
                with open(f, "rb") as i:
                    o.write(i.read())
                os.remove(f)
    ok = rc == 0 and md5_of(out) == whole
    return {"state": "succeed" if ok else "failed", "wall_s": round(wall, 3),
            "goodput_MBps": round(size / wall / 1e6, 3), "waste": round(logs.sent() / size, 4)}


def scenarios(net):
    own = ["%s.%d" % (net, i) for i in range(6, 10)]
    ngx = ["%s.%d" % (net, i) for i in range(2, 6)]
    return [
        # name, nginx rate per connection, scenario json, hosts, https, sum of caps
        ("caps-http", 1000000, {}, ngx, False, 8 * 1000000),
        ("caps-https", 1000000, {}, ngx, True, 8 * 1000000),
        ("speeds", 0, {own[0]: {"rate": 4000000}, own[1]: {"rate": 2000000}, own[2]: {"rate": 1000000},
                       own[3]: {"rate": 500000}}, own, False, 2 * 7500000),
        ("latency", 0, {h: {"rate": 2000000, "latency": 0.5} for h in own}, own, False, 8 * 2000000),
        ("latency-https", 0, {h: {"rate": 2000000, "latency": 0.5} for h in own}, own, True, 8 * 2000000),
    ]


def main():
    build = os.path.abspath(sys.argv[1])
    root = os.path.join(build, "bench-mirrors")
    work = os.path.join(build, "bench-work")
    os.makedirs(work, exist_ok=True)
    rows = []
    sys.path.insert(0, os.path.dirname(FIXTURE))
    import mirror_fixture
    net = mirror_fixture.net_for(root)  # addresses of this folder's own, apart from the tests' mirrors
    for name, rate, scen, hosts, https, ideal in scenarios(net):
        subprocess.run([sys.executable, FIXTURE, "start", root, "--net", net, "--lifetime", "900", "--rate", str(rate),
                        "--big-size", str(SIZE)], check=True)
        try:
            with open(os.path.join(root, "scenario.json"), "w") as f:
                json.dump(scen, f)
            payload = os.path.join(root, "www", "download", "big.bin")
            whole, blocks = digests(payload)
            scheme = "https" if https else "http"
            urls = ["%s://%s/download/big.bin" % (scheme, h) for h in hosts]
            results = {
                "engine": run_engine(build, work, root, urls, SIZE, whole, blocks),
                "aria2c": run_aria2(work, root, urls, SIZE, whole, blocks, 2),
                "curl-ranges": run_curl_ranges(work, root, urls, SIZE, whole, 2),
            }
            if name != "latency":
                results["curl-1"] = run_curl_single(work, root, urls[0], SIZE, whole)
            for tool, r in results.items():
                print(json.dumps({"scenario": name, "tool": tool, **r}), flush=True)
            e, a = results["engine"], results["aria2c"]
            rows.append((name, ideal / 1e6, e.get("goodput_MBps", 0), SIZE / e.get("wall_s", 1) / 1e6,
                         SIZE / a["wall_s"] / 1e6, e.get("probe_s", 0), e.get("waste", 0), a["waste"],
                         e.get("repairs", 0), e.get("state"), a["state"]))
        finally:
            subprocess.run([sys.executable, FIXTURE, "stop", root])
    print()
    print("| scenario | sum of caps MB/s | engine goodput MB/s | engine end-to-end MB/s | aria2c MB/s | "
          "engine e2e/caps | engine/aria2c | probe s | waste engine | waste aria2c | repairs | states |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for n, ideal, good, e2e, aria, probe, we, wa, rep, se, sa in rows:
        print("| %s | %.1f | %.2f | %.2f | %.2f | %.0f%% | %.2f | %.2f | %.3f | %.3f | %s | %s/%s |" % (
            n, ideal, good, e2e, aria, 100 * e2e / ideal, e2e / aria if aria else 0, probe, we, wa, rep, se, sa))


if __name__ == "__main__":
    main()
