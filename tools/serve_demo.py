#!/usr/bin/env python3
"""Serves the demo site (tools/demo-site) on the loopback interface.

Every request is logged as one line with its method, path and query, so a
run can be checked afterwards: the login page being loaded, the version file
being fetched with its "?v=" stamp, the game page calling back on
/client-type. Standard library only.

    serve_demo.py [--port N] [--root DIR] [--log FILE] [--port-file FILE]
                  [--max-seconds S]
                  [--upgrade PROGRAM --upgrade-version V [--upgrade-key KEY]]

--upgrade offers an upgrade: /update/upgrade.ini announces version V and
/update/upgrade.exe serves PROGRAM. With --upgrade-key (a private key made by
tools/upgrade-key.sh new) the version file carries PROGRAM's signature, as a
launcher built with the matching public key requires.

--port 0 (the default) takes a free port; the chosen port is printed and,
with --port-file, written to that file once the server is listening.
--max-seconds ends the server after that long even if nobody stops it.
"""
import argparse
import functools
import http.server
import os
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))


class Log:
    """Request lines to stdout and, optionally, a file; one writer at a time."""

    def __init__(self, path):
        self.lock = threading.Lock()
        self.file = open(path, "a", encoding="utf-8") if path else None

    def write(self, line):
        line = "%s %s\n" % (time.strftime("%H:%M:%S"), line)
        with self.lock:
            sys.stdout.write(line)
            sys.stdout.flush()
            if self.file:
                self.file.write(line)
                self.file.flush()


class Handler(http.server.SimpleHTTPRequestHandler):
    log = None
    upgrade = {}  # path -> (content type, bytes) served instead of the site's file

    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map, **{
        ".html": "text/html; charset=utf-8",
        ".ini": "text/plain",
        ".exe": "application/octet-stream",
    })

    def end_headers(self):
        # The launcher's browsers keep a disk cache; the demo should always
        # show what is on disk now.
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def do_GET(self):
        # The game page reports each call of its client-type function here.
        if self.path.split("?", 1)[0] == "/client-type":
            self.send_response(204)
            self.end_headers()
            return
        served = self.upgrade.get(self.path.split("?", 1)[0])
        if served:
            self.send_response(200)
            self.send_header("Content-Type", served[0])
            self.send_header("Content-Length", str(len(served[1])))
            self.end_headers()
            self.wfile.write(served[1])
            return
        super().do_GET()

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        self.rfile.read(length)
        self.send_response(204)
        self.end_headers()

    def list_directory(self, path):
        self.send_error(404)
        return None

    def log_request(self, code="-", size="-"):
        # requestline holds the path with its query string, as sent.
        self.log.write('"%s" %s' % (self.requestline, getattr(code, "value", code)))

    def log_error(self, fmt, *args):
        pass  # the request line that follows already carries the status

    def log_message(self, fmt, *args):
        self.log.write(fmt % args)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


def upgrade_files(program, version, key):
    """The version file and the program of an offered upgrade, signed with
    tools/upgrade-key.sh when a key is given."""
    ini = "[common]\r\nversion=%s\r\n" % version
    if key:
        line = subprocess.run(["bash", os.path.join(HERE, "upgrade-key.sh"), "sign", key, program, version],
                              check=True, capture_output=True, text=True).stdout.strip()
        ini += line + "\r\n"
    with open(program, "rb") as f:
        data = f.read()
    return {"/update/upgrade.ini": ("text/plain", ini.encode()),
            "/update/upgrade.exe": ("application/octet-stream", data)}


def main():
    ap = argparse.ArgumentParser(description="Serve the demo site on 127.0.0.1.")
    ap.add_argument("--port", type=int, default=0, help="port; 0 takes a free one")
    ap.add_argument("--root", default=os.path.join(HERE, "demo-site"), help="folder to serve")
    ap.add_argument("--log", help="also append the request lines to this file")
    ap.add_argument("--port-file", help="write the chosen port to this file")
    ap.add_argument("--max-seconds", type=float, default=0,
                    help="stop after this many seconds (0: run until stopped)")
    ap.add_argument("--upgrade", help="upgrade program to offer at /update/upgrade.exe")
    ap.add_argument("--upgrade-version", help="the version the offered upgrade announces")
    ap.add_argument("--upgrade-key", help="private key that signs the offered upgrade")
    args = ap.parse_args()
    if args.upgrade:
        if not args.upgrade_version:
            ap.error("--upgrade needs --upgrade-version")
        Handler.upgrade = upgrade_files(args.upgrade, args.upgrade_version, args.upgrade_key)

    Handler.log = Log(args.log)
    handler = functools.partial(Handler, directory=os.path.abspath(args.root))
    server = Server(("127.0.0.1", args.port), handler)
    port = server.server_address[1]

    # SIGTERM ends the server the same way as the time limit: shutdown()
    # must come from another thread than the one serving.
    stop = lambda *_: threading.Thread(target=server.shutdown, daemon=True).start()  # noqa: E731
    signal.signal(signal.SIGTERM, stop)
    if args.max_seconds > 0:
        timer = threading.Timer(args.max_seconds, stop)
        timer.daemon = True
        timer.start()

    if args.port_file:
        # Written whole under a temporary name, so a reader never sees half.
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)
    print("serving %s on http://127.0.0.1:%d/ (pid %d)" % (args.root, port, os.getpid()),
          flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    print("server on port %d stopped" % port, flush=True)


if __name__ == "__main__":
    main()
