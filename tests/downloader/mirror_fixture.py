#!/usr/bin/env python3
"""Loopback download mirrors for the engine's tests and benchmark.

  mirror_fixture.py start DIR [--net 127.X.Y] [--lifetime S] [--rate BYTES_PER_S] [--big-size BYTES]
  mirror_fixture.py stop DIR

The mirrors listen on loopback addresses NET.2 to NET.11 (all of 127/8 is
loopback), so fixtures of several build trees on one machine never meet;
without --net, NET is derived from a digest of DIR (net_for).
start makes a certificate with IP names, the payload files, and starts
(besides the payload files, any file put into DIR/www/download is served)
  - nginx on NET.2-NET.5 and NET.10, ports 80 and 443 (well-behaved mirrors;
    --rate caps every connection),
  - our own server on NET.6-NET.9 and NET.11, ports 80 and 443, whose misbehaviour
    per host is read from DIR/scenario.json before every request,
  - an ICMP listener that logs every echo request to those hosts.
Every request goes to DIR/requests.log (nginx: DIR/nginx-requests.log) and
every echo request to DIR/icmp.log, one JSON object per line. Everything ends
by itself after --lifetime seconds; stop ends it earlier, by PID.

scenario.json: {"NET.6": {...}, ...}; keys of a host (all optional):
  rate            bytes/s per connection        host_rate  bytes/s for the host
  latency         seconds before the reply      stall_after  body bytes, then silence (socket kept open)
  reset_after     body bytes, then a reset      corrupt_at   list of file offsets to flip
  corrupt_every   flip one byte every N bytes   head_length  "missing", "wrong" or a number
  head_hang       HEAD never answered           get_hang   GET never answered
  ignore_range    200 with the whole file       status     status of every file GET (body: text)
  flag / flag_http / flag_https   body of /flag.php (default "1\\n")
  burst           [bytes, seconds]: send that many bytes, then pause
  short_by        end every ranged body that many bytes early (connection closed)
  corrupt_first   flip body byte N of the first reply longer than N (once per
                  scenario); its log entry names the file offset in "corrupted"
  reset_once      body bytes, then a reset, for the first file reply only (once
                  per scenario)
  dead            every request, and every reply still being sent, ends at once
                  with a reset (checked every 0.1 s while sending)
"""
import hashlib
import json
import os
import signal
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time

NGINX_HOSTS, OWN_HOSTS, ALL_HOSTS = [], [], []
HOLD_LIMIT = 60  # seconds a hanging or stalled reply keeps its socket
FILES = {"small.bin": 3670016, "big.bin": 25165824, "tiny.bin": 5}


def net_for(path):
    """127.X.Y for a folder: X and Y from the MD5 of its path, each 1 to 254
    (the same rule as the build's CMake files use for the build tree)."""
    digest = hashlib.md5(path.encode()).hexdigest()
    return "127.%d.%d" % (int(digest[0:2], 16) % 254 + 1, int(digest[2:4], 16) % 254 + 1)


def use_net(net):
    # The tests use mirrors 2 to 9; the benchmark needs five of each kind.
    NGINX_HOSTS[:] = ["%s.%d" % (net, i) for i in (2, 3, 4, 5, 10)]
    OWN_HOSTS[:] = ["%s.%d" % (net, i) for i in (6, 7, 8, 9, 11)]
    ALL_HOSTS[:] = NGINX_HOSTS + OWN_HOSTS


def payload(name, size):
    # Deterministic bytes, different per file.
    import random
    rnd = random.Random(name)
    return rnd.randbytes(size)


def prepare(root):
    os.makedirs(root, exist_ok=True)
    www = os.path.join(root, "www", "download")
    os.makedirs(www, exist_ok=True)
    for name, size in FILES.items():
        path = os.path.join(www, name)
        if not os.path.exists(path) or os.path.getsize(path) != size:
            with open(path, "wb") as f:
                f.write(payload(name, size))
    # The fallback host is told by a marker in the path.
    alias = os.path.join(www, "dl.tarvex.com")
    if not os.path.lexists(alias):
        os.symlink(".", alias)
    cert, key = os.path.join(root, "cert.pem"), os.path.join(root, "key.pem")
    sans = ",".join("IP:" + h for h in ALL_HOSTS)
    names = os.path.join(root, "cert.names")
    old = open(names).read() if os.path.exists(names) else ""
    if not os.path.exists(cert) or old != sans:
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=orvane-test-mirror", "-addext", "subjectAltName=" + sans],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(names, "w") as f:
            f.write(sans)
    return cert, key


def nginx_conf(root, cert, key, rate):
    listens = "".join("    listen %s:80;\n    listen %s:443 ssl;\n" % (h, h) for h in NGINX_HOSTS)
    limit = "    limit_rate %d;\n" % rate if rate else ""
    return f"""daemon off;
worker_processes 2;
pid {root}/nginx.pid;
error_log {root}/nginx-error.log;
events {{ worker_connections 512; }}
http {{
    client_body_temp_path {root}/tmp-body;
    proxy_temp_path {root}/tmp-proxy;
    fastcgi_temp_path {root}/tmp-fcgi;
    uwsgi_temp_path {root}/tmp-uwsgi;
    scgi_temp_path {root}/tmp-scgi;
    types {{ application/octet-stream bin; }}
    log_format mirror escape=json '{{"t":$msec,"host":"$server_addr","scheme":"$scheme","method":"$request_method",'
        '"path":"$uri","range":"$http_range","ua":"$http_user_agent","status":$status,"bytes":$body_bytes_sent}}';
    access_log {root}/nginx-requests.log mirror;
    sendfile on;
    keepalive_timeout 5;
    server {{
{listens}        ssl_certificate {cert};
        ssl_certificate_key {key};
        root {root}/www;
{limit}        location = /flag.php {{ default_type text/plain; return 200 "1\\n"; }}
    }}
}}
"""


class Scenario:
    def __init__(self, path):
        self.path, self.stamp, self.data = path, None, {}
        self.lock = threading.Lock()

    def host(self, host):
        with self.lock:
            try:
                st = os.stat(self.path)
                stamp = (st.st_mtime_ns, st.st_size)
                if stamp != self.stamp:
                    with open(self.path) as f:
                        self.data = json.load(f)
                    self.stamp = stamp
            except FileNotFoundError:
                self.data, self.stamp = {}, None
            except (ValueError, OSError):
                pass
            cfg = dict(self.data.get(host, {}))
            cfg["_stamp"] = self.stamp
            return cfg


class Bucket:
    """Token bucket: at most rate bytes per second."""
    def __init__(self, rate):
        self.rate, self.lock = rate, threading.Lock()
        self.level, self.stamp = 0.0, time.monotonic()

    def take(self, n):
        while True:
            with self.lock:
                now = time.monotonic()
                self.level = min(self.rate * 0.25, self.level + (now - self.stamp) * self.rate)
                self.stamp = now
                if self.level >= n:
                    self.level -= n
                    return
                wait = (n - self.level) / self.rate
            time.sleep(min(wait, 0.25))


class OwnServer:
    def __init__(self, root, cert, key, deadline):
        self.root, self.deadline = root, deadline
        self.scenario = Scenario(os.path.join(root, "scenario.json"))
        self.log_lock = threading.Lock()
        self.log = open(os.path.join(root, "requests.log"), "a", buffering=1)
        self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.tls.load_cert_chain(cert, key)
        self.host_buckets, self.bucket_lock = {}, threading.Lock()
        self.files = {}
        self.once, self.once_lock = set(), threading.Lock()

    def file_bytes(self, name):
        if name not in self.files:
            with open(os.path.join(self.root, "www", "download", name), "rb") as f:
                self.files[name] = f.read()
        return self.files[name]

    def write_log(self, entry):
        with self.log_lock:
            self.log.write(json.dumps(entry) + "\n")

    @staticmethod
    def listen(host, port):
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((host, port))
        s.listen(128)
        s.settimeout(1)
        return s

    def serve(self, s, host, port):
        while time.time() < self.deadline:
            try:
                conn, _ = s.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            threading.Thread(target=self.connection, args=(conn, host, port), daemon=True).start()

    def connection(self, conn, host, port):
        scheme = "https" if port == 443 else "http"
        try:
            conn.settimeout(30)
            if scheme == "https":
                conn = self.tls.wrap_socket(conn, server_side=True)
            self.request(conn, host, scheme)
        except Exception:
            pass
        finally:
            try:
                conn.close()
            except Exception:
                pass

    def hold(self, conn):
        # Keep the socket open and silent until the client leaves or the bound.
        end = time.time() + HOLD_LIMIT
        conn.settimeout(0.5)
        while time.time() < min(end, self.deadline):
            try:
                if conn.recv(4096) == b"":
                    return
            except socket.timeout:
                continue
            except Exception:
                return

    def request(self, conn, host, scheme):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(4096)
            if not chunk:
                return
            data += chunk
            if len(data) > 65536:
                return
        head = data.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
        method, path = head[0].split(" ")[:2]
        headers = {}
        for line in head[1:]:
            if ":" in line:
                k, v = line.split(":", 1)
                headers[k.strip().lower()] = v.strip()
        cfg = self.scenario.host(host)
        entry = {"t": time.time(), "host": host, "scheme": scheme, "method": method, "path": path,
                 "range": headers.get("range", ""), "ua": headers.get("user-agent", ""), "status": 0, "bytes": 0}
        try:
            self.answer(conn, cfg, method, path, headers, scheme, entry)
        finally:
            self.write_log(entry)

    def send_head(self, conn, status, fields, entry):
        entry["status"] = status
        reason = {200: "OK", 206: "Partial Content", 404: "Not Found", 416: "Range Not Satisfiable"}.get(status, "Status")
        text = "HTTP/1.1 %d %s\r\n" % (status, reason)
        for k, v in fields:
            text += "%s: %s\r\n" % (k, v)
        text += "Connection: close\r\n\r\n"
        conn.sendall(text.encode("latin-1"))

    @staticmethod
    def reset(conn):
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))

    def first_time(self, entry, cfg, key):
        """True once per host, key and scenario."""
        token = (entry["host"], key, cfg.get("_stamp"))
        with self.once_lock:
            if token in self.once:
                return False
            self.once.add(token)
            return True

    def answer(self, conn, cfg, method, path, headers, scheme, entry):
        if cfg.get("dead"):
            self.reset(conn)
            return
        if cfg.get("latency"):
            time.sleep(float(cfg["latency"]))
        if path.split("?")[0] == "/flag.php":
            body = cfg.get("flag_" + scheme, cfg.get("flag", "1\n")).encode()
            self.send_head(conn, 200, [("Content-Type", "text/plain"), ("Content-Length", len(body))], entry)
            conn.sendall(body)
            entry["bytes"] = len(body)
            return
        name = path.split("/")[-1]
        served = name in FILES or (name and os.path.isfile(os.path.join(self.root, "www", "download", name)))
        if not path.startswith("/download/") or not served:
            body = b"not found"
            self.send_head(conn, 404, [("Content-Length", len(body))], entry)
            conn.sendall(body)
            return
        content = self.file_bytes(name)
        size = len(content)
        if method == "HEAD":
            if cfg.get("head_hang"):
                self.hold(conn)
                return
            fields = [("Content-Type", "application/octet-stream"), ("Accept-Ranges", "bytes")]
            hl = cfg.get("head_length")
            if hl is None:
                fields.append(("Content-Length", size))
            elif hl == "wrong":
                fields.append(("Content-Length", size + 1))
            elif hl != "missing":
                fields.append(("Content-Length", int(hl)))
            self.send_head(conn, 200, fields, entry)
            return
        if cfg.get("get_hang"):
            self.hold(conn)
            return
        if cfg.get("status"):
            body = b"mirror error page"
            self.send_head(conn, int(cfg["status"]), [("Content-Length", len(body))], entry)
            conn.sendall(body)
            entry["bytes"] = len(body)
            return
        first, last, status = 0, size - 1, 200
        rng = headers.get("range", "")
        if rng.startswith("bytes=") and not cfg.get("ignore_range"):
            a, _, b = rng[6:].partition("-")
            first = int(a) if a else 0
            last = min(int(b), size - 1) if b else size - 1
            status = 206
            if first > last:
                self.send_head(conn, 416, [("Content-Range", "bytes */%d" % size), ("Content-Length", 0)], entry)
                return
        fields = [("Content-Type", "application/octet-stream"), ("Content-Length", last - first + 1)]
        if status == 206:
            fields.append(("Content-Range", "bytes %d-%d/%d" % (first, last, size)))
        self.send_head(conn, status, fields, entry)
        body_end = last + 1
        if status == 206 and cfg.get("short_by"):
            body_end = max(first, body_end - int(cfg["short_by"]))
        self.send_body(conn, cfg, content, first, body_end, entry)

    def bucket(self, host_key, rate):
        with self.bucket_lock:
            if host_key not in self.host_buckets or self.host_buckets[host_key].rate != rate:
                self.host_buckets[host_key] = Bucket(rate)
            return self.host_buckets[host_key]

    def send_body(self, conn, cfg, content, first, end, entry):
        own = Bucket(float(cfg["rate"])) if cfg.get("rate") else None
        shared = self.bucket(entry["host"], float(cfg["host_rate"])) if cfg.get("host_rate") else None
        stall = cfg.get("stall_after")
        reset = cfg.get("reset_after")
        if cfg.get("reset_once") is not None and self.first_time(entry, cfg, "reset_once"):
            reset = int(cfg["reset_once"])
        corrupt = set(cfg.get("corrupt_at", []))
        every = int(cfg.get("corrupt_every", 0))
        burst = cfg.get("burst")
        if cfg.get("corrupt_first") is not None and end - first > int(cfg["corrupt_first"]):
            if self.first_time(entry, cfg, "corrupt_first"):
                corrupt.add(first + int(cfg["corrupt_first"]))
                entry["corrupted"] = first + int(cfg["corrupt_first"])
        sent_in_burst = 0
        pos = first
        looked = time.time()
        while pos < end:
            if time.time() > self.deadline:
                return
            if time.time() - looked > 0.1:
                looked = time.time()
                if self.scenario.host(entry["host"]).get("dead"):
                    self.reset(conn)
                    return
            n = min(16384, end - pos)
            if stall is not None and entry["bytes"] + n > stall:
                n = stall - entry["bytes"]
                if n <= 0:
                    self.hold(conn)
                    return
            if reset is not None and entry["bytes"] + n > reset:
                n = reset - entry["bytes"]
                if n <= 0:
                    self.reset(conn)
                    return
            if burst and sent_in_burst >= int(burst[0]):
                time.sleep(float(burst[1]))
                sent_in_burst = 0
            if burst:
                n = min(n, int(burst[0]) - sent_in_burst)
            if own:
                own.take(n)
            if shared:
                shared.take(n)
            block = bytearray(content[pos:pos + n])
            for off in corrupt:
                if pos <= off < pos + n:
                    block[off - pos] ^= 0xFF
            if every:
                k = ((pos + every - 1) // every) * every
                while k < pos + n:
                    block[k - pos] ^= 0xFF
                    k += every
            conn.sendall(bytes(block))
            pos += n
            sent_in_burst += n
            entry["bytes"] += n


def icmp_listener(root, deadline):
    try:
        s = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    except OSError:
        return
    s.settimeout(1)
    log = open(os.path.join(root, "icmp.log"), "a", buffering=1)
    watched = set(ALL_HOSTS)
    while time.time() < deadline:
        try:
            data, _ = s.recvfrom(2048)
        except socket.timeout:
            continue
        if len(data) < 28:
            continue
        hl = (data[0] & 15) * 4
        dst = socket.inet_ntoa(data[16:20])
        if len(data) >= hl + 8 and data[hl] == 8 and dst in watched:
            ident, seq = struct.unpack("<HH", data[hl + 4:hl + 8])
            log.write(json.dumps({"t": time.time(), "host": dst, "id": ident, "seq": seq}) + "\n")


def run_daemon(root, lifetime, rate):
    deadline = time.time() + lifetime
    cert, key = os.path.join(root, "cert.pem"), os.path.join(root, "key.pem")
    with open(os.path.join(root, "nginx.conf"), "w") as f:
        f.write(nginx_conf(root, cert, key, rate))
    nginx = subprocess.Popen(["nginx", "-c", os.path.join(root, "nginx.conf"), "-p", root],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(root, "nginx.pid.fixture"), "w") as f:
        f.write(str(nginx.pid))
    server = OwnServer(root, cert, key, deadline)
    threads = [threading.Thread(target=icmp_listener, args=(root, deadline), daemon=True)]
    for h in OWN_HOSTS:
        for p in (80, 443):
            try:
                listener = OwnServer.listen(h, p)
            except OSError as e:
                print("cannot listen on %s:%d: %s" % (h, p, e), flush=True)
                nginx.terminate()
                os._exit(1)
            threads.append(threading.Thread(target=server.serve, args=(listener, h, p), daemon=True))
    for t in threads:
        t.start()

    def end(*_):
        nginx.terminate()
        try:
            nginx.wait(5)
        except subprocess.TimeoutExpired:
            nginx.kill()
        os._exit(0)

    signal.signal(signal.SIGTERM, end)
    while time.time() < deadline and nginx.poll() is None:
        time.sleep(0.5)
    end()


def ready(root):
    for h in ALL_HOSTS:
        for p in (80, 443):
            try:
                socket.create_connection((h, p), 0.5).close()
            except OSError:
                return False
    return True


def busy():
    for h in ALL_HOSTS:
        for p in (80, 443):
            try:
                socket.create_connection((h, p), 0.2).close()
                return "%s:%d" % (h, p)
            except OSError:
                pass
    return None


def start(root, net, lifetime, rate):
    stop(root)
    for _ in range(50):
        if not busy():
            break
        time.sleep(0.2)
    else:
        print("mirror fixture: %s is already served by someone else" % busy(), file=sys.stderr)
        return 1
    cert, key = prepare(root)
    for name in ("requests.log", "nginx-requests.log", "icmp.log", "scenario.json"):
        try:
            os.remove(os.path.join(root, name))
        except FileNotFoundError:
            pass
    out = open(os.path.join(root, "daemon.log"), "w")
    daemon = subprocess.Popen([sys.executable, os.path.abspath(__file__), "daemon", root, str(lifetime), str(rate),
                               str(FILES["big.bin"]), net],
                              stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
    with open(os.path.join(root, "daemon.pid"), "w") as f:
        f.write(str(daemon.pid))
    for _ in range(100):
        if ready(root):
            return 0
        if daemon.poll() is not None:
            break
        time.sleep(0.1)
    print("mirror fixture did not come up; see", os.path.join(root, "daemon.log"), file=sys.stderr)
    stop(root)
    return 1


def stop(root):
    for name in ("daemon.pid", "nginx.pid.fixture"):
        path = os.path.join(root, name)
        try:
            pid = int(open(path).read().strip())
        except (OSError, ValueError):
            continue
        for sig, wait in ((signal.SIGTERM, 5.0), (signal.SIGKILL, 2.0)):
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                break
            end = time.time() + wait
            while time.time() < end:
                try:
                    if os.waitpid(pid, os.WNOHANG)[0]:
                        break
                except ChildProcessError:
                    pass
                try:
                    os.kill(pid, 0)
                except ProcessLookupError:
                    break
                if open("/proc/%d/stat" % pid).read().split(")")[-1].split()[0] == "Z":
                    break
                time.sleep(0.1)
            else:
                continue
            break
        os.remove(path)
    return 0


def main(argv):
    if len(argv) >= 3 and argv[1] == "daemon":
        FILES["big.bin"] = int(argv[5])
        use_net(argv[6])
        run_daemon(argv[2], float(argv[3]), int(argv[4]))
        return 0
    if len(argv) < 3 or argv[1] not in ("start", "stop"):
        print(__doc__, file=sys.stderr)
        return 2
    root = os.path.abspath(argv[2])
    if argv[1] == "stop":
        return stop(root)
    lifetime, rate, net = 1800.0, 0, net_for(root)
    rest = argv[3:]
    while rest:
        if rest[0] == "--net":
            net = rest[1]
        elif rest[0] == "--lifetime":
            lifetime = float(rest[1])
        elif rest[0] == "--rate":
            rate = int(rest[1])
        elif rest[0] == "--big-size":
            FILES["big.bin"] = int(rest[1])
        rest = rest[2:]
    use_net(net)
    return start(root, net, lifetime, rate)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
