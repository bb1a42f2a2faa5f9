"""The Windows downloader under Wine, called directly (download_probe.exe)
against the loopback test server. Error pages, bodies cut short, a redirect
loop, a capped and a cancelled transfer must each come back as a non-zero
code that says what happened, and the earlier file must survive it byte for
byte, with no temporary file left beside it and nothing in the system's
internet cache; a capped or cancelled transfer stops receiving at once. The
folder has a blank and characters outside the ANSI code page. From folders
longer than MAX_PATH a program starts, and a held file refuses a rename over
it, moves and starts.

A server that goes silent must not hold the caller for ever: with shortened
limits the call gives up on a stall before the headers and in mid-body, while
a slow transfer that never falls silent that long completes. The worker left
behind removes its temporary file once the server lets go, and a probe that
ends while such a worker is still blocked ends at once."""
import os
import shutil
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402
from test_server import TestServer, head, read_request  # noqa: E402

PROBE = os.environ.get("E2E_DOWNLOAD_PROBE") or desktop.fail("E2E_DOWNLOAD_PROBE is not set")
MARKER = os.environ.get("E2E_UPGRADE_MARKER") or desktop.fail("E2E_UPGRADE_MARKER is not set")

EARLIER = b"[common]\r\nversion=1.0\r\n"
HTTP_404 = 0x80190194          # HTTP_E_STATUS_NOT_FOUND
HTTP_500 = 0x801901F4          # HTTP_E_STATUS_SERVER_ERROR
DOWNLOAD_FAILURE = 0x800C0008  # INET_E_DOWNLOAD_FAILURE
UNKNOWN_PROTOCOL = 0x800C000D  # INET_E_UNKNOWN_PROTOCOL
REDIRECT_FAILED = 0x800C0014   # INET_E_REDIRECT_FAILED
CONNECTION_TIMEOUT = 0x800C000B  # INET_E_CONNECTION_TIMEOUT
TOO_LARGE = 0x800700DF         # HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)
ABORTED = 0x80004004           # E_ABORT
HELD_ALL = 63                  # every check of the "hold" command
TIMING_RUNS = 20
# The stall cases' limits (ms): silence before the answer's headers, after them.
BEFORE_RESPONSE_MS = 1000
SILENCE_MS = 1500


def every_byte(size):
    return bytes((i * 7 + i // 251) & 0xFF for i in range(size))


class Trickle:
    """Answers each request with `count` pieces of `size` bytes, one every
    `every` seconds: never silent for long, slow in total."""

    def __init__(self, count, size, every):
        self.body = every_byte(count * size)
        self.size, self.every = size, every
        self.stopping = threading.Event()
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(4)
        self.sock.settimeout(0.2)
        self.thread = threading.Thread(target=self.serve, daemon=True)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.sock.getsockname()[1], path)

    def serve(self):
        while not self.stopping.is_set():
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            with conn:
                try:
                    self.answer(conn)
                except OSError:
                    pass

    def answer(self, conn):
        conn.settimeout(5)
        if read_request(conn) is None:
            return
        conn.sendall(head(200, len(self.body), "application/octet-stream"))
        for at in range(0, len(self.body), self.size):
            if self.stopping.wait(self.every):
                return
            conn.sendall(self.body[at:at + self.size])

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.thread.join(10)
        self.sock.close()


def probe_lines(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read().split("\n")[:-1]
    except FileNotFoundError:
        return []


def run_probe(base, calls, name):
    """The probe's output lines for `calls` (label, command, address, path)."""
    out = os.path.join(base, name + ".txt")
    args = [wine_env.winpath(out)]
    for _, cmd, url, target in calls:
        args += [cmd, url, wine_env.winpath(target)]
    status = wine_env.run_exe(PROBE, args, timeout=60, logname="download_%s.log" % name)
    lines = probe_lines(out)
    if status != 0 or len(lines) != len(calls):
        desktop.fail("download_probe ended with %d after %d of %d calls" % (status, len(lines), len(calls)))
    return lines


def main():
    base = desktop.scratch_dir("launcher-dl-")
    try:
        check(base)
        check_stalls(base)
    finally:
        shutil.rmtree(base, ignore_errors=True)


def check(base):
    folder = os.path.join(base, "下载 目录")
    os.makedirs(folder)
    big = every_byte(3 * 1024 * 1024 + 17)
    # Folders longer than MAX_PATH, each with a program that marks its start.
    long_dirs = [os.path.join(base, "x" * 120, "y" * 120, name) for name in ("启动", "held")]
    for folder_path in long_dirs:
        os.makedirs(folder_path)
        shutil.copy(MARKER, os.path.join(folder_path, "a.exe"))
    cache = wine_env.internet_cache()
    with TestServer(files={"upgrade.exe": big, "endless.bin": bytes(64 << 20)}, lifetime=60) as srv:
        refused = desktop.free_port()  # nobody listens there
        endless = srv.url("/slow/20000000/endless.bin?v=1")
        # (name, address, expected result, command, outcome); each failure
        # has a target of its own holding the earlier content.
        failures = [
            ("not-found", srv.url("/status/404?v=1"), HTTP_404),
            ("server-error", srv.url("/status/500?v=1"), HTTP_500),
            ("redirect-to-404", srv.url("/redirect/status/404?v=1"), HTTP_404),
            ("cut-short", srv.url("/cut?v=1"), DOWNLOAD_FAILURE),
            ("reset", srv.url("/reset?v=1"), DOWNLOAD_FAILURE),
            ("refused", "http://127.0.0.1:%d/version/2.0?v=1" % refused, DOWNLOAD_FAILURE),
            # An empty configured address, and a local file.
            ("empty-address", "?v=1", UNKNOWN_PROTOCOL),
            ("local-file", "file:///" + wine_env.winpath(__file__).replace("\\", "/"),
             UNKNOWN_PROTOCOL),
            ("redirect-loop", srv.url("/redirect-loop?v=1"), REDIRECT_FAILED),
            # 64 MiB at 20 MB/s, bounded to 1 MiB, or cancelled after 1 s.
            ("capped", endless, TOO_LARGE, "capped"),
            ("cancelled", endless.replace("v=1", "v=2"), ABORTED, "cancel", "cancelled"),
        ]
        successes = [
            ("upgrade.exe", srv.url("/files/upgrade.exe?v=1"), big),
            ("redirected.ini", srv.url("/redirect/version/3.1?v=1"), b"[common]\r\nversion=3.1\r\n"),
            # No earlier file: the first download creates it.
            ("new.ini", srv.url("/version/2.0?v=1"), b"[common]\r\nversion=2.0\r\n"),
        ]
        calls = []  # (label, command, address, target)
        for name, url, _ in successes:
            if name != "new.ini":
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(EARLIER)
            calls.append((name, "get", url, os.path.join(folder, name)))
        missing = os.path.join(base, "missing", "upgrade.ini")
        calls.append(("missing", "get", srv.url("/version/2.0?v=1"), missing))
        # URLDownloadToFileW alone, the baseline, runs after the cache check:
        # it keeps every body in the cache.
        baseline = []
        for i in range(TIMING_RUNS):
            calls.append(("timed", "get", srv.url("/version/2.0?v=%d" % i), os.path.join(folder, "timed.ini")))
            baseline.append(("raw", "raw", srv.url("/version/2.0?v=%d" % i), os.path.join(base, "raw.ini")))
        for name, url, _, *command in failures:
            with open(os.path.join(folder, name + ".ini"), "wb") as f:
                f.write(EARLIER)
            calls.append((name, (command or ["get"])[0], url, os.path.join(folder, name + ".ini")))
        calls.append(("long-start", "start", wine_env.winpath(os.path.join(long_dirs[0], "a.exe")), "-"))
        calls.append(("held", "hold", wine_env.winpath(os.path.join(long_dirs[1], "a.exe")),
                      os.path.join(long_dirs[1], "upgrade.exe")))

        started = time.monotonic()
        lines = run_probe(base, calls, "probe")
        took = time.monotonic() - started
        ran = [os.path.join(d, "upgrade-ran.txt") for d in long_dirs]
        desktop.wait_for(lambda: all(map(os.path.exists, ran)), 10, "the started programs' marks")
        cached = wine_env.new_in_cache(cache)
        lines += run_probe(base, baseline, "baseline")
        results = {}
        for (label, _, _, _), line in zip(calls + baseline, lines):
            _, code, ms, kind = line.split()
            results.setdefault(label, []).append((int(code, 16), float(ms), kind))
        loop_requests = sum(1 for t in srv.targets() if t.startswith("/redirect-loop"))
        # How long the server went on sending after the call had returned.
        time.sleep(0.5)
        sending = {name: [r for r in srv.transfers() if srv.url(r["target"]) == url]
                   for name, url, *_ in failures if name in ("capped", "cancelled")}

    errors = []
    for name, url, want, *command in failures:
        got, ms, kind = results[name][0]
        expected = command[1] if len(command) > 1 else "failed"
        if (got, kind) != (want, expected):
            errors.append("%s: %s %08x, expected %s %08x" % (name, kind, got, expected, want))
        with open(os.path.join(folder, name + ".ini"), "rb") as f:
            if f.read() != EARLIER:
                errors.append("%s: the earlier file was changed" % name)
    for name, _, want in successes:
        got, _, kind = results[name][0]
        if (got, kind) != (0, "done"):
            errors.append("%s: %s %08x, expected done" % (name, kind, got))
        with open(os.path.join(folder, name), "rb") as f:
            if f.read() != want:
                errors.append("%s: the file does not hold the body that was sent" % name)
    missing_result = results["missing"][0][0]
    if missing_result == 0 or os.path.exists(os.path.dirname(missing)):
        errors.append("missing folder: result %08x, folder exists: %s"
                      % (missing_result, os.path.exists(os.path.dirname(missing))))
    # The original request and ten redirects, then a failure.
    if loop_requests != 11 or results["redirect-loop"][0][1] > 2000:
        errors.append("redirect loop: %d requests, given up after %.0f ms"
                      % (loop_requests, results["redirect-loop"][0][1]))
    stops = []
    for name, transfers in sending.items():
        ms = results[name][0][1]
        if len(transfers) != 1 or transfers[0]["ended"] is None or (
                transfers[0]["ended"] - transfers[0]["started"]) * 1000 > ms + 300:
            errors.append("%s: the server went on sending after %.0f ms: %r" % (name, ms, transfers))
        else:
            t = transfers[0]
            stops.append("%s %.1f MB, stopped %.0f ms after the call began"
                         % (name, t["sent"] / 1e6, (t["ended"] - t["started"]) * 1000))
    if results["long-start"][0][0] != 1:
        errors.append("start from a folder of %d characters failed" % len(long_dirs[0]))
    if results["held"][0][0] != HELD_ALL:
        errors.append("held file: checks %s passed, expected %s"
                      % (bin(results["held"][0][0]), bin(HELD_ALL)))
    if not all(map(os.path.exists, ran)):
        errors.append("no mark of the programs started from long folders: %r"
                      % [os.path.exists(r) for r in ran])
    if cached:
        errors.append("left in the internet cache: %r" % cached)
    left = sorted(set(os.listdir(folder)) - {n + ".ini" for n, *_ in failures}
                  - {n for n, _, _ in successes} - {"timed.ini"})
    if left:
        errors.append("files left beside the targets: %r" % left)
    if any(code != 0 for code, _, _ in results["timed"] + results["raw"]):
        errors.append("a timed download failed")

    median = lambda label: sorted(ms for _, ms, _ in results[label])[TIMING_RUNS // 2]  # noqa: E731
    print("small file over loopback, median of %d: downloader %.1f ms, URLDownloadToFileW alone %.1f ms"
          % (TIMING_RUNS, median("timed"), median("raw")))
    print("3 MiB file: %.1f ms; redirect loop given up after %.0f ms (%d requests seen by then);"
          " probe run %.1f s" % (results["upgrade.exe"][0][1], results["redirect-loop"][0][1],
                                 loop_requests, took))
    print("64 MiB at 20 MB/s: capped after %.0f ms, cancelled after %.0f ms; sent by the server"
          " by then: %s" % (results["capped"][0][1], results["cancelled"][0][1], ", ".join(stops)))

    if errors:
        desktop.fail("; ".join(errors))
    print("win32 download: all cases passed")



def check_stalls(base):
    folder = os.path.join(base, "停顿 目录")
    os.makedirs(folder)
    targets = {name: os.path.join(folder, name) for name in ("headers.ini", "body.ini", "slow.bin")}
    for path in targets.values():
        with open(path, "wb") as f:
            f.write(EARLIER)
    out = os.path.join(base, "stalls.txt")
    # Longer in total than both limits, with pieces well apart but never as
    # far apart as either limit.
    with TestServer(lifetime=60) as srv, Trickle(count=8, size=400, every=0.5) as slow:
        args = [wine_env.winpath(out), "limits", str(BEFORE_RESPONSE_MS), str(SILENCE_MS),
                "get", srv.url("/stall-headers?v=1"), wine_env.winpath(targets["headers.ini"]),
                "get", srv.url("/stall?v=1"), wine_env.winpath(targets["body.ini"]),
                "get", slow.url("/upgrade.exe?v=1"), wine_env.winpath(targets["slow.bin"]),
                "drain", "20000", "-"]
        proc = wine_env.start_exe(PROBE, args, logname="download_probe_stalls.log")
        try:
            # Up to the drain the stalled connections are held open.
            desktop.wait_for(lambda: len(probe_lines(out)) >= 4, 30, "the stall cases")
            held = sorted(set(os.listdir(folder)) - set(targets))
            srv.stop()
            try:
                status = proc.wait(30)
            except subprocess.TimeoutExpired:
                desktop.fail("the abandoned workers kept the stall probe alive for 30 s")
        finally:
            desktop.stop(proc)
    lines = probe_lines(out)
    if status != 0 or len(lines) != 5:
        desktop.fail("stall probe ended with %d after %d of 5 lines" % (status, len(lines)))
    (_, headers, body, slow_run, drain) = [(int(c, 16), float(ms)) for _, c, ms, _ in
                                           (line.split() for line in lines)]

    errors = []
    for name, (got, ms), limit in (("stall before the headers", headers, BEFORE_RESPONSE_MS),
                                   ("stall in mid-body", body, SILENCE_MS)):
        if got != CONNECTION_TIMEOUT:
            errors.append("%s: result %08x, expected %08x" % (name, got, CONNECTION_TIMEOUT))
        if not limit - 100 <= ms < 5000:
            errors.append("%s: given up after %.0f ms (limit %d ms)" % (name, ms, limit))
    if slow_run[0] != 0:
        errors.append("slow but live transfer: result %08x after %.0f ms" % slow_run)
    # Given up on, a transfer's temporary file goes at once.
    if held:
        errors.append("while the workers were blocked, beside the targets: %r" % held)
    if drain[0] != 0:
        errors.append("%d abandoned transfers still running after %.0f ms" % drain)
    for name in ("headers.ini", "body.ini"):
        with open(targets[name], "rb") as f:
            if f.read() != EARLIER:
                errors.append("%s: the earlier file was changed" % name)
    with open(targets["slow.bin"], "rb") as f:
        if f.read() != slow.body:
            errors.append("slow.bin does not hold the body that was sent")
    left = sorted(set(os.listdir(folder)) - set(targets))
    if left:
        errors.append("files left beside the targets after the drain: %r" % left)

    # The probe ends while a worker is still blocked: the process must end at
    # once all the same (the launcher's own end is ExitProcess as well).
    ending = os.path.join(folder, "ending.ini")
    with open(ending, "wb") as f:
        f.write(EARLIER)
    out = os.path.join(base, "ending.txt")
    with TestServer(lifetime=60) as srv:
        started = time.monotonic()
        status = wine_env.run_exe(PROBE, [wine_env.winpath(out), "limits", "500", "800", "get",
                                          srv.url("/stall?v=2"), wine_env.winpath(ending)],
                                  timeout=30, logname="download_probe_ending.log")
        took = time.monotonic() - started
        still_held = not srv.stopping.is_set()
    lines = probe_lines(out)
    code = int(lines[1].split()[1], 16) if len(lines) == 2 else None
    if status != 0 or code != CONNECTION_TIMEOUT or not still_held or took > 10:
        errors.append("ending with a blocked worker: status %d, result %r, %.1f s"
                      % (status, code, took))
    with open(ending, "rb") as f:
        if f.read() != EARLIER:
            errors.append("ending.ini: the earlier file was changed")
    # What a worker killed in mid-call leaves behind is only reported.
    orphans = sorted(set(os.listdir(folder)) - set(targets) - {"ending.ini"})

    print("stall given up after %.0f ms before the headers (limit %d ms), %.0f ms in mid-body"
          " (limit %d ms); slow but live transfer of %d bytes: %.0f ms; abandoned workers done"
          " %.0f ms into the drain" % (headers[1], BEFORE_RESPONSE_MS, body[1], SILENCE_MS,
                                       len(slow.body), slow_run[1], drain[1]))
    print("probe ended with a blocked worker after %.1f s; temporary files it left: %d"
          % (took, len(orphans)))
    if errors:
        desktop.fail("; ".join(errors))
    print("win32 download stalls: all cases passed")


if __name__ == "__main__":
    main()
