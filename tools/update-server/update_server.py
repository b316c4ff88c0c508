#!/usr/bin/env python3
"""Reference update server for Dirvane (Python standard library only).

Release mode, for whoever publishes a release:

    python3 update_server.py --port 8080 --release 2.0.1.0 \
        --description "Faster menus." --installer dist/DirvaneSetup.exe

answers GET /cgi-bin/update.pl?key=Dirvane with

    [Info]
    Ver=2.0.1.0
    Dsc=Faster menus.
    DL=https://updates.example/download/DirvaneSetup.exe
    FN=DirvaneSetup.exe
    SHA256=<64 hexadecimal digits: the SHA-256 of --installer, read afresh for every request>

and serves the installer at that address. DL is --public-url (the https address under which
clients reach this server, e.g. through a TLS proxy) followed by /download/<name>; without it,
DL is built from the request's Host header, with https when this server serves https itself
(--certfile/--keyfile) and http otherwise, which clients accept only from an http update server.
--download-url points DL elsewhere entirely (a mirror). A request with another key gets a reply
without "Ver" whose "Dsc" explains the error.

Test mode: --reply/--reply-file give the reply text verbatim (with "{installer_sha256}" replaced
by the SHA-256 of the installer being served); --stall accepts connections and never
answers (the control file's "stall": "headers" sends the headers first); --chunk/--delay send the installer slowly; --partial breaks the installer off halfway.
With --control-file, a JSON object read afresh for every request overrides these settings, so one
running server can play every scenario of a test run:

    {"reply": "...", "status": 200, "stall": false, "stall_seconds": 3,
     "installer": "/path/file", "download_status": 200, "chunk": 0, "delay": 0, "partial": false,
     "no_length": false}

("no_length" leaves Content-Length out of the reply and the download: the body ends where the
connection does.)

The server exits by itself after --lifetime seconds (0: runs until stopped), writes the port it
listens on to --port-file (use --port 0 for a free port), and appends each request line to --log.
A server that is "down" is simply one that was not started.
"""

import argparse
import hashlib
import json
import os
import signal
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

UPDATE_PATH = "/cgi-bin/update.pl"
DOWNLOAD_PREFIX = "/download/"


def ini_reply(version, description, download_url, file_name, sha256=""):
    lines = ["[Info]", "Ver=" + version, "Dsc=" + description, "DL=" + download_url, "FN=" + file_name]
    if sha256:
        lines.append("SHA256=" + sha256)
    return "\r\n".join(lines) + "\r\n"


def file_sha256(path):
    """SHA-256 of a file in hexadecimal, or "" when there is no such file."""
    if not path or not os.path.isfile(path):
        return ""
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


class Settings:
    """What the server answers: the command line, overridden per request by the control file."""

    def __init__(self, args):
        self.args = args

    def current(self):
        a = self.args
        s = {
            "reply": None,
            "status": 200,
            "stall": a.stall,
            "stall_seconds": a.stall_seconds,
            "installer": a.installer,
            "download_status": 200,
            "chunk": a.chunk,
            "delay": a.delay,
            "partial": a.partial,
            "no_length": False,
        }
        if a.reply is not None:
            s["reply"] = a.reply
        elif a.reply_file:
            with open(a.reply_file, encoding="utf-8") as f:
                s["reply"] = f.read()
        if a.control_file and os.path.exists(a.control_file):
            try:
                with open(a.control_file, encoding="utf-8") as f:
                    s.update(json.load(f))
            except (OSError, ValueError) as e:
                sys.stderr.write("control file unreadable: %s\n" % e)
        return s


class Handler(BaseHTTPRequestHandler):
    server_version = "DirvaneUpdateServer/1.0"
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):
        pass  # requests are recorded by record(), once each

    def record(self):
        if self.server.log_path:
            with self.server.log_lock, open(self.server.log_path, "a", encoding="utf-8") as f:
                f.write("%s %s\n" % (self.command, self.path))

    def do_GET(self):
        self.record()
        s = self.server.settings.current()
        url = urllib.parse.urlsplit(self.path)
        if s["stall"]:
            # Accepted and read, never answered (or, with "headers", answered with headers that
            # announce a body that never comes): the client waits until we drop the connection.
            if s["stall"] == "headers":
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", "100000")
                self.end_headers()
                self.wfile.flush()
            deadline = time.monotonic() + float(s["stall_seconds"])
            while time.monotonic() < deadline and not self.server.stopping.is_set():
                time.sleep(0.05)
            self.close_connection = True
            return
        if url.path == UPDATE_PATH:
            self.answer_update(s, urllib.parse.parse_qs(url.query).get("key", [""])[0])
        elif url.path.startswith(DOWNLOAD_PREFIX):
            self.answer_download(s, urllib.parse.unquote(url.path[len(DOWNLOAD_PREFIX):]))
        else:
            self.send_error(404)

    def answer_update(self, s, key):
        a = self.server.settings.args
        if s["reply"] is not None:
            text = s["reply"]
            if "{installer_sha256}" in text:
                text = text.replace("{installer_sha256}", file_sha256(s["installer"]))
        elif a.release:
            if key != a.key:
                text = ini_reply("", "Unknown product key \"%s\"." % key, "", "")
            else:
                name = a.file_name or (os.path.basename(a.installer) if a.installer else "")
                download = a.download_url or "%s%s%s" % (self.server.base_url(self), DOWNLOAD_PREFIX,
                                                           urllib.parse.quote(name))
                text = ini_reply(a.release, a.description, download, name, file_sha256(a.installer))
        else:
            text = ini_reply("", "No release is published.", "", "")
        body = text.encode("cp1252", errors="replace")
        self.send_response(int(s["status"]))
        self.send_header("Content-Type", "text/plain")
        if not s["no_length"]:
            self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()
        self.wfile.write(body)

    def answer_download(self, s, name):
        path = s["installer"]
        status = int(s["download_status"])
        if not path or os.path.basename(path) != name or not os.path.isfile(path) or status != 200:
            self.send_error(status if status != 200 else 404)
            return
        with open(path, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if not s["no_length"]:
            self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        full = len(data)
        if s["partial"]:
            data = data[: full // 2]
        chunk = int(s["chunk"]) or len(data) or 1
        delay = float(s["delay"])
        try:
            for start in range(0, len(data), chunk):
                self.wfile.write(data[start:start + chunk])
                self.wfile.flush()
                if delay and start + chunk < len(data):
                    if self.server.stopping.wait(delay):
                        break
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up
        if len(data) < full:
            # Broken off as a failing network would: a reset, not an orderly end of the data.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, settings, log_path, tls):
        super().__init__(address, Handler)
        self.settings = settings
        self.log_path = log_path
        self.log_lock = threading.Lock()
        self.stopping = threading.Event()
        self.tls = tls

    def base_url(self, handler):
        public = self.settings.args.public_url
        if public:
            return public.rstrip("/")
        host = handler.headers.get("Host") or "%s:%d" % self.server_address[:2]
        return ("https://" if self.tls else "http://") + host


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=8080, help="0 picks a free port")
    p.add_argument("--port-file", help="write the port here once listening")
    p.add_argument("--pid-file", help="write the process id here")
    p.add_argument("--lifetime", type=float, default=0, help="exit after this many seconds (0: never)")
    p.add_argument("--log", help="append each request line to this file")
    p.add_argument("--key", default="Dirvane", help="product key the release answers to")
    p.add_argument("--release", help="version offered, four dotted numbers")
    p.add_argument("--description", default="", help="news of the release")
    p.add_argument("--installer", help="installer file to serve under /download/")
    p.add_argument("--file-name", help="file name proposed for the installer (default: its own)")
    p.add_argument("--download-url", help="address of the installer (default: this server)")
    p.add_argument("--public-url", help="https base address under which clients reach this server "
                                         "(behind a TLS proxy); DL is built on it")
    p.add_argument("--reply", help="answer the update request with this text verbatim")
    p.add_argument("--reply-file", help="answer the update request with this file's text")
    p.add_argument("--stall", action="store_true", help="accept connections and never answer")
    p.add_argument("--stall-seconds", type=float, default=60, help="how long a stalled connection is held")
    p.add_argument("--chunk", type=int, default=0, help="send the installer in chunks of this many bytes")
    p.add_argument("--delay", type=float, default=0, help="seconds between chunks")
    p.add_argument("--partial", action="store_true", help="send only the first half of the installer")
    p.add_argument("--control-file", help="JSON settings read for every request (for tests)")
    p.add_argument("--certfile", help="serve https with this certificate (PEM)")
    p.add_argument("--keyfile", help="private key of --certfile")
    args = p.parse_args(argv)

    server = Server((args.host, args.port), Settings(args), args.log, bool(args.certfile))
    if args.certfile:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.certfile, args.keyfile)
        server.socket = context.wrap_socket(server.socket, server_side=True)

    def stop(*_):
        server.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if args.lifetime > 0:
        timer = threading.Timer(args.lifetime, stop)
        timer.daemon = True
        timer.start()

    if args.pid_file:
        with open(args.pid_file, "w") as f:
            f.write("%d\n" % os.getpid())
    if args.port_file:
        temp = args.port_file + ".tmp"
        with open(temp, "w") as f:
            f.write("%d\n" % server.server_address[1])
        os.replace(temp, args.port_file)  # readers never see a half-written port
    try:
        server.serve_forever(poll_interval=0.1)
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
