#!/usr/bin/env python3
"""Loopback HTTP server for the tests of the version check and upgrade: the
end-to-end tests run it on a thread, the unit tests as a child process
(tests/support/test_server.h). The path is matched without the query:

  /version/<text>    200, an INI file with [common] version=<text>
                     (percent-decoded)
  /version-empty     200, [common] version= (empty)
  /version-missing   200, an INI file without [common] version
  /status/<code>     that status with a small HTML body (404, 500, ...)
  /redirect/<path>   302 to /<path>
  /redirect-loop     302 to itself
  /cut               200 announcing 1000 bytes, sends 100, closes
  /reset             200 announcing 1000 bytes, sends 100, resets the
                     connection
  /stall             200 announcing 1000 bytes, sends 10, then nothing
  /stall-headers     sends nothing at all
  /files/<name>      a registered file (else 404)
  /slow/<rate>/<name>          that file at <rate> bytes a second, in
                               twentieths of a second
  /slow-unsized/<rate>/<name>  the same without a Content-Length
  a registered page  200, text/html (UTF-8), at exactly its path (for the
                     browser tests: a login page, a game page, ...)
  /attachment/<name> a registered file as an attachment (Content-Disposition)
  anything else      404

Every request is logged with its query as sent, and every /slow transfer
with the bytes it sent and when it ended (transfers()), so that a test sees
how soon a client that gave up stopped receiving. Stalled connections are
held until the client gives up or the server stops.

In a test:

    with TestServer(files={"upgrade.exe": data}) as srv:
        url = srv.url("/version/2.0")
        ...
        srv.targets()   # ["/version/2.0?v=1709622489", ...]

    with TestServer(pages={"/login.html": html}) as srv: ...

As a process:

    test_server.py [--files DIR] [--log FILE] [--lifetime S]

The registered files are those in DIR, read at each request, so a file
written there later is served too. The port is printed on a line of its own
once the server is listening; each request is appended to the log as
"METHOD TARGET". It ends when its standard input closes, at SIGTERM or after
--lifetime seconds. Standard library only; binds 127.0.0.1 on a free port.
"""
import os
import select
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse

SLICE = 0.2          # how often a waiting connection looks at the stop flag
REQUEST_WAIT = 5.0   # a client that sends no request head in time is dropped
MAX_REQUEST = 64 * 1024

REASONS = {200: "OK", 302: "Found", 404: "Not Found", 500: "Internal Server Error"}


def reason(status):
    return REASONS.get(status, "Status")


def head(status, length, ctype, extra=""):
    return ("HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\n%s"
            "Connection: close\r\n\r\n" % (status, reason(status), ctype, length, extra)
            ).encode("latin-1")


def error_page(status):
    return ("<html><head><title>%d %s</title></head><body><h1>%s</h1></body></html>\n"
            % (status, reason(status), reason(status))).encode()


def version_file(text):
    return b"[common]\r\nversion=" + text + b"\r\n"


def read_request(conn):
    """A request's head from a blocking socket of a server of a test's own;
    None when the client closes first."""
    request = b""
    while b"\r\n\r\n" not in request:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        request += chunk
    return request


class _Handler(socketserver.BaseRequestHandler):
    def read_head(self):
        data = b""
        waited = 0.0
        while b"\r\n\r\n" not in data and len(data) < MAX_REQUEST:
            if self.server.stopping.is_set() or waited > REQUEST_WAIT:
                return None
            ready, _, _ = select.select([self.request], [], [], SLICE)
            if not ready:
                waited += SLICE
                continue
            chunk = self.request.recv(4096)
            if not chunk:
                return None
            data += chunk
        return data

    def hold_until_client_closes(self):
        while not self.server.stopping.is_set():
            ready, _, _ = select.select([self.request], [], [], SLICE)
            if ready:
                try:
                    if not self.request.recv(512):
                        return
                except OSError:
                    return

    def send(self, data):
        try:
            self.request.sendall(data)
            return True
        except OSError:
            return False

    def finish_reply(self):
        try:
            self.request.shutdown(socket.SHUT_WR)
        except OSError:
            return
        self.hold_until_client_closes()

    def reply(self, status, ctype, body, extra=""):
        if self.send(head(status, len(body), ctype, extra) + body):
            self.finish_reply()

    def send_slowly(self, path):
        sized = path.startswith("/slow/")
        rate, _, name = path.split("/", 2)[2].partition("/")
        body = self.server.files.get(name)
        if body is None or not rate.isdigit() or int(rate) < 20:
            self.reply(404, "text/html", error_page(404))
            return
        piece = int(rate) // 20
        record = {"target": self.target, "size": len(body), "sent": 0,
                  "started": time.monotonic(), "ended": None}
        self.server.owner._transfer(record)
        try:
            self.send_paced(body, piece, sized, record)
        finally:
            record["ended"] = time.monotonic()

    def send_paced(self, body, piece, sized, record):
        start = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
        if sized:
            start += "Content-Length: %d\r\n" % len(body)
        if not self.send((start + "Connection: close\r\n\r\n").encode("ascii")):
            return
        due = time.monotonic()
        for off in range(0, len(body), piece):
            if self.server.stopping.is_set() or not self.send(body[off:off + piece]):
                return
            record["sent"] += len(body[off:off + piece])
            # Paced by the clock, so that a slow send does not lower the rate.
            due += 0.05
            time.sleep(max(0.0, due - time.monotonic()))
        self.finish_reply()

    def handle(self):
        raw = self.read_head()
        if raw is None:
            return
        line = raw.split(b"\r\n", 1)[0].decode("latin-1")
        parts = line.split(" ")
        method = parts[0]
        target = parts[1] if len(parts) > 1 else ""
        self.server.log_request(method, target)
        self.target = target
        path = target.split("?", 1)[0]
        ini, html = "text/plain", "text/html"

        def registered(prefix):
            return self.server.files.get(path[len(prefix):]) if path.startswith(prefix) else None

        pages = self.server.pages
        if path in pages:
            self.reply(200, "text/html; charset=utf-8", pages[path])
        elif (body := registered("/files/")) is not None:
            self.reply(200, "application/octet-stream", body)
        elif (body := registered("/attachment/")) is not None:
            self.reply(200, "application/octet-stream", body,
                       'Content-Disposition: attachment; filename="%s"\r\n' % path[12:])
        elif path.startswith("/version/"):
            self.reply(200, ini, version_file(urllib.parse.unquote_to_bytes(path[9:])))
        elif path == "/version-empty":
            self.reply(200, ini, version_file(b""))
        elif path == "/version-missing":
            self.reply(200, ini, b"[platform]\r\nloginUrl=http://127.0.0.1/\r\n")
        elif path.startswith("/status/") and path[8:].isdigit():
            status = int(path[8:])
            self.reply(status, html, error_page(status))
        elif path.startswith("/redirect/"):
            self.reply(302, html, error_page(302), "Location: %s\r\n" % path[9:])
        elif path == "/redirect-loop":
            self.reply(302, html, error_page(302), "Location: /redirect-loop\r\n")
        elif path == "/cut":
            if self.send(head(200, 1000, ini) + b"c" * 100):
                self.finish_reply()
        elif path == "/reset":
            self.send(head(200, 1000, ini) + b"r" * 100)
            # An RST instead of a FIN.
            self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                    struct.pack("ii", 1, 0))
            # Closed here: the server's own close would send a FIN first.
            self.request.close()
        elif path == "/stall":
            if self.send(head(200, 1000, ini) + b"s" * 10):
                self.hold_until_client_closes()
        elif path.startswith(("/slow/", "/slow-unsized/")):
            self.send_slowly(path)
        elif path == "/stall-headers":
            self.hold_until_client_closes()
        else:
            self.reply(404, html, error_page(404))


class FolderFiles:
    """Registered files that are the files of a folder, read at each request."""

    def __init__(self, root):
        self.root = root

    def get(self, name):
        if name in ("", ".", "..") or os.path.basename(name) != name:
            return None
        try:
            with open(os.path.join(self.root, name), "rb") as f:
                return f.read()
        except (OSError, ValueError):
            return None


class _Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, owner):
        self.owner = owner
        self.stopping = owner.stopping
        self.files = owner.files
        self.pages = owner.pages
        super().__init__(("127.0.0.1", 0), _Handler)

    def log_request(self, method, target):
        self.owner._log(method, target)


class TestServer:
    """The server on a thread of the calling process; see the module text."""

    def __init__(self, files=None, lifetime=120.0, log=None, pages=None):
        # name -> bytes, or a FolderFiles
        self.files = files if isinstance(files, FolderFiles) else dict(files or {})
        # path -> HTML text or bytes
        self.pages = {k: v.encode("utf-8") if isinstance(v, str) else v
                      for k, v in (pages or {}).items()}
        self.lifetime = lifetime
        self.log_path = log
        self.stopping = threading.Event()
        self._lock = threading.Lock()
        self._requests = []
        self._transfers = []
        self._server = None
        self._thread = None
        self._timer = None

    def start(self):
        self._server = _Server(self)
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": SLICE}, daemon=True)
        self._thread.start()
        self._timer = threading.Timer(self.lifetime, self.stop)
        self._timer.daemon = True
        self._timer.start()
        return self

    @property
    def port(self):
        return self._server.server_address[1]

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def serve_file(self, name, data):
        self.files[name] = data

    def requests(self):
        """(method, target) of every request so far, in arrival order."""
        with self._lock:
            return list(self._requests)

    def targets(self):
        return [t for _, t in self.requests()]

    def transfers(self, prefix=""):
        """The /slow transfers whose target starts with `prefix`, each a dict:
        target, size, sent (bytes), started and ended (time.monotonic(),
        ended None while running)."""
        with self._lock:
            return [dict(r) for r in self._transfers if r["target"].startswith(prefix)]

    def _transfer(self, record):
        with self._lock:
            self._transfers.append(record)

    def _log(self, method, target):
        with self._lock:
            self._requests.append((method, target))
            if self.log_path:
                with open(self.log_path, "a", encoding="utf-8") as f:
                    f.write("%s %s\n" % (method, target))

    def stop(self):
        if self.stopping.is_set():
            return
        self.stopping.set()
        if self._timer and self._timer is not threading.current_thread():
            self._timer.cancel()
        if self._server:
            self._server.shutdown()
            self._server.server_close()

    def wait(self):
        self.stopping.wait()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def main():
    # Options by hand: argparse would cost a good part of the start, which
    # every unit test that uses the server waits for.
    args = dict(zip(sys.argv[1::2], sys.argv[2::2]))
    if len(sys.argv) % 2 == 0 or set(args) - {"--files", "--log", "--lifetime"}:
        sys.exit(__doc__)

    files = FolderFiles(args["--files"]) if "--files" in args else None
    srv = TestServer(files=files, lifetime=float(args.get("--lifetime", 120)),
                     log=args.get("--log")).start()
    print(srv.port, flush=True)
    # The parent's end closes our standard input, whatever way it ends.
    threading.Thread(target=lambda: (sys.stdin.buffer.read(), srv.stop()), daemon=True).start()
    srv.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
