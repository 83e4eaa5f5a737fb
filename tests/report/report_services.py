#!/usr/bin/env python3
"""The statistics and analytics services of the reporting tests, on loopback.

    report_services.py start --state-dir DIR --listen NAME=KIND@HOST:PORT ... [--lifetime S]
    report_services.py stop --state-dir DIR

`start` runs one server process in the background (its PID in DIR/services.pid)
and returns once every listener accepts connections. KIND is "stats" or
"analytics", with "+tls" for HTTPS under a fresh self-signed certificate for
"localhost" (made with openssl in DIR). Each listener keeps its own behaviour and request records:

    POST /_control/reset       default behaviour, no records
    POST /_control/behaviour   JSON object, see Behaviour below
    GET  /_control/requests    {"requests": [...]} in arrival order

Everything else is the service itself. The process ends by itself after
--lifetime seconds; `stop` ends it by its PID.
"""
import argparse
import email.parser
import email.policy
import hashlib
import http.server
import json
import os
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time

MAX_STALL_S = 60        # no reply is held back longer than this
MAX_BODY = 64 * 1024 * 1024
MAX_RECORDS = 500
ACCEPT = b'{"result":{"res":true},"msg":"saved"}'


def flatten(text):
    """Lines "path<TAB>type<TAB>value" for every leaf of a JSON text, in text
    order, duplicate keys kept. Types: s i f b n, o and a for empty containers."""
    lines = []

    def walk(path, value):
        if isinstance(value, ObjectPairs):
            if not value:
                lines.append(f"{path}\to\t")
            for key, item in value:
                walk(f"{path}.{key}" if path else key, item)
        elif isinstance(value, list):
            if not value:
                lines.append(f"{path}\ta\t")
            for index, item in enumerate(value):
                walk(f"{path}[{index}]", item)
        elif isinstance(value, bool):
            lines.append(f"{path}\tb\t{'true' if value else 'false'}")
        elif isinstance(value, int):
            lines.append(f"{path}\ti\t{value}")
        elif isinstance(value, float):
            lines.append(f"{path}\tf\t{value!r}")
        elif value is None:
            lines.append(f"{path}\tn\t")
        else:
            lines.append(f"{path}\ts\t{value}")

    walk("", json.loads(text, object_pairs_hook=ObjectPairs))
    return "\n".join(lines)


class ObjectPairs(list):
    """A JSON object as its list of (key, value) pairs."""


def describe_json(record, text):
    try:
        record["flat"] = flatten(text)
        record["json_ok"] = True
    except (ValueError, RecursionError) as error:
        record["json_ok"] = False
        record["json_error"] = str(error)


def parse_multipart(content_type, body):
    message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
        b"Content-Type: " + content_type.encode("latin-1") + b"\r\n\r\n" + body)
    if not message.is_multipart():
        return None
    parts = []
    for part in message.iter_parts():
        data = part.get_payload(decode=True) or b""
        parts.append({
            "name": part.get_param("name", header="content-disposition") or "",
            "filename": part.get_filename() or "",
            "content_type": part.get_content_type() if part.get("content-type") else "",
            "size": len(data),
            "md5": hashlib.md5(data).hexdigest(),
            "text": data.decode("utf-8", "replace"),
        })
    return parts


class Listener:
    def __init__(self, name, kind, host, port):
        self.name, self.kind, self.host, self.port = name, kind, host, port
        self.lock = threading.Lock()
        self.behaviour = {}
        self.records = []
        self.served = 0

    def reset(self):
        with self.lock:
            self.behaviour = {}
            self.records = []
            self.served = 0


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "ReportTestService/1"

    def log_message(self, fmt, *args):
        pass

    @property
    def listener(self):
        return self.server.listener

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length > MAX_BODY:
            raise ValueError("body too large")
        return self.rfile.read(length) if length else b""

    def reply(self, status, body, content_type="application/json"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def do_GET(self):
        if self.path == "/_control/requests":
            with self.listener.lock:
                body = json.dumps({"requests": self.listener.records}).encode()
            return self.reply(200, body)
        self.reply(404, b'{"error":"not found"}')

    def do_POST(self):
        body = self.read_body()
        if self.path.startswith("/_control/"):
            return self.control(body)
        listener = self.listener
        record = {
            "method": self.command,
            "path": self.path,
            "headers": {k.lower(): v for k, v in self.headers.items()},
            "header_names": [k for k in self.headers.keys()],
            "body": body.decode("utf-8", "replace"),
            "size": len(body),
            "time": time.time(),
        }
        if listener.kind == "stats":
            self.parse_report(record, body)
        else:
            describe_json(record, body.decode("utf-8", "replace"))
        with listener.lock:
            listener.records.append(record)
            del listener.records[:-MAX_RECORDS]
            listener.served += 1
            served = listener.served
            behaviour = dict(listener.behaviour)
        if listener.kind == "stats":
            self.answer_stats(behaviour, served)
        else:
            self.answer_analytics(behaviour, served)

    def control(self, body):
        if self.path == "/_control/reset":
            self.listener.reset()
        elif self.path == "/_control/behaviour":
            behaviour = json.loads(body or b"{}")
            with self.listener.lock:
                self.listener.behaviour = behaviour
        else:
            return self.reply(404, b'{"error":"unknown control"}')
        self.reply(200, b'{"ok":true}')

    def parse_report(self, record, body):
        content_type = self.headers.get("Content-Type", "")
        record["content_type"] = content_type
        parts = parse_multipart(content_type, body) if content_type.startswith("multipart/form-data") else None
        record["parts"] = parts or []
        for part in record["parts"]:
            if part["name"] == "json_data":
                describe_json(record, part["text"])

    # --- answers ----------------------------------------------------------

    def stall(self, behaviour):
        time.sleep(min(float(behaviour.get("stall_ms", 0)) / 1000.0, MAX_STALL_S))

    def drop(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def partial(self, body):
        """Headers promising the whole body, half of it, then the connection ends."""
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body[: len(body) // 2])
        self.wfile.flush()
        self.drop()

    def answer_common(self, behaviour, served, good):
        """Modes shared by both services; True when an answer was given."""
        mode = behaviour.get("mode", "ok")
        if served <= int(behaviour.get("fail_first", 0)):
            mode = behaviour.get("fail_mode", "drop")
        if mode == "stall":
            self.stall(behaviour)
            mode = behaviour.get("after_stall", "ok")
        if mode == "ok":
            self.reply(200, good)
        elif mode == "drop":
            self.drop()
        elif mode == "partial":
            self.partial(good)
        elif mode == "garbage":
            self.reply(200, b"<html>Service Unavailable</html>", "text/html")
        elif mode == "empty":
            self.reply(200, b"")
        elif mode == "raw":
            self.reply(int(behaviour.get("status", 200)), behaviour.get("raw", "").encode())
        elif mode == "huge":
            self.reply(200, good + b" " * (2 * 1024 * 1024))
        else:
            return mode
        return None

    def answer_stats(self, behaviour, served):
        mode = self.answer_common(behaviour, served, ACCEPT)
        if mode == "refuse":
            self.reply(200, b'{"result":{"res":false},"msg":"rejected"}')
        elif mode == "res_text":
            self.reply(200, b'{"result":{"res":"true"}}')
        elif mode == "result_scalar":
            self.reply(200, b'{"result":true}')
        elif mode == "error_status_accept":
            self.reply(500, ACCEPT)
        elif mode is not None:
            self.reply(200, b'{"result":{"res":false},"msg":"unknown mode"}')

    def answer_analytics(self, behaviour, served):
        data = behaviour.get("data", {"api_version": 1, "user_info": {"token_id": "tok", "email": ""}})
        reply = {"cscode": int(behaviour.get("cscode", 0)), "msg": "ok"}
        if not behaviour.get("no_data"):
            reply["data"] = data
        good = json.dumps(reply, separators=(",", ":")).encode()
        if self.answer_common(behaviour, served, good) is not None:
            self.reply(200, good)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, listener):
        self.listener = listener
        super().__init__((listener.host, listener.port), Handler)


def parse_listen(text):
    name, rest = text.split("=", 1)
    kind, address = rest.split("@", 1)
    host, port = address.rsplit(":", 1)
    if not host.startswith("127."):
        raise SystemExit(f"refusing to listen outside loopback: {host}")
    listener = Listener(name, kind.replace("+tls", ""), host, int(port))
    listener.tls = kind.endswith("+tls")
    return listener


def make_certificate(state_dir):
    """A fresh self-signed certificate for the TLS listeners."""
    cert, key = os.path.join(state_dir, "cert.pem"), os.path.join(state_dir, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=localhost"], check=True, timeout=60,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def serve(args):
    servers = [Server(parse_listen(text)) for text in args.listen]
    for server in servers:
        if server.listener.tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(os.path.join(args.state_dir, "cert.pem"), os.path.join(args.state_dir, "key.pem"))
            server.socket = context.wrap_socket(server.socket, server_side=True)
    for server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    stop.wait(args.lifetime)
    for server in servers:
        server.shutdown()
        server.server_close()


def start(args):
    os.makedirs(args.state_dir, exist_ok=True)
    pid_file = os.path.join(args.state_dir, "services.pid")
    if os.path.exists(pid_file):
        stop(args)
    make_certificate(args.state_dir)
    command = [sys.executable, os.path.abspath(__file__), "serve", "--lifetime", str(args.lifetime),
               "--state-dir", args.state_dir]
    for text in args.listen:
        command += ["--listen", text]
    with open(os.path.join(args.state_dir, "services.log"), "ab") as log:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                   start_new_session=True, close_fds=True)
    with open(pid_file, "w") as out:
        out.write(str(process.pid))
    targets = [parse_listen(text) for text in args.listen]
    deadline = time.time() + 15
    while time.time() < deadline:
        if process.poll() is not None:
            raise SystemExit(f"services ended at start with {process.returncode}")
        try:
            for target in targets:
                socket.create_connection((target.host, target.port), timeout=1).close()
            print(f"services running, pid {process.pid}")
            return
        except OSError:
            time.sleep(0.1)
    process.kill()
    raise SystemExit("services did not start listening")


def alive(pid):
    """True while pid runs; a zombie left for its new parent counts as ended."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def stop(args):
    pid_file = os.path.join(args.state_dir, "services.pid")
    try:
        with open(pid_file) as source:
            pid = int(source.read().strip())
    except (OSError, ValueError):
        return
    os.remove(pid_file)
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    for _ in range(50):
        try:
            finished, _ = os.waitpid(pid, os.WNOHANG)
        except ChildProcessError:
            finished = 0
            if not alive(pid):
                return
        if finished:
            return
        time.sleep(0.1)
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["start", "stop", "serve"])
    parser.add_argument("--state-dir", default=".")
    parser.add_argument("--listen", action="append", default=[])
    parser.add_argument("--lifetime", type=float, default=1800)
    args = parser.parse_args()
    {"start": start, "stop": stop, "serve": serve}[args.command](args)


if __name__ == "__main__":
    main()
