"""The Windows downloader under Wine, called directly (download_probe.exe)
against the loopback test server. urlmon reports success for error pages and
for bodies cut short: every such failure must come back as a non-zero code
that says what happened, and the earlier file must survive it byte for byte,
with no temporary file left beside it. The folder has a blank and characters
outside the ANSI code page."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402
from test_server import TestServer  # noqa: E402

PROBE = os.environ.get("E2E_DOWNLOAD_PROBE") or desktop.fail("E2E_DOWNLOAD_PROBE is not set")

EARLIER = b"[common]\r\nversion=1.0\r\n"
HTTP_404 = 0x80190194          # HTTP_E_STATUS_NOT_FOUND
HTTP_500 = 0x801901F4          # HTTP_E_STATUS_SERVER_ERROR
DOWNLOAD_FAILURE = 0x800C0008  # INET_E_DOWNLOAD_FAILURE
UNKNOWN_PROTOCOL = 0x800C000D  # INET_E_UNKNOWN_PROTOCOL
REDIRECT_FAILED = 0x800C0014   # INET_E_REDIRECT_FAILED
TIMING_RUNS = 20


def every_byte(size):
    return bytes((i * 7 + i // 251) & 0xFF for i in range(size))


def main():
    base = desktop.scratch_dir("launcher-dl-")
    try:
        check(base)
    finally:
        shutil.rmtree(base, ignore_errors=True)


def check(base):
    folder = os.path.join(base, "下载 目录")
    os.makedirs(folder)
    big = every_byte(3 * 1024 * 1024 + 17)
    with TestServer(files={"upgrade.exe": big}, lifetime=60) as srv:
        refused = desktop.free_port()  # nobody listens there
        # (name, address, expected result); each failure has a target of its
        # own holding the earlier content.
        failures = [
            ("not-found", srv.url("/status/404?v=1"), HTTP_404),
            ("server-error", srv.url("/status/500?v=1"), HTTP_500),
            ("redirect-to-404", srv.url("/redirect/status/404?v=1"), HTTP_404),
            ("cut-short", srv.url("/cut?v=1"), DOWNLOAD_FAILURE),
            ("reset", srv.url("/reset?v=1"), DOWNLOAD_FAILURE),
            ("refused", "http://127.0.0.1:%d/version/2.0?v=1" % refused, DOWNLOAD_FAILURE),
            # An empty configured address, and a local file that urlmon
            # would copy.
            ("empty-address", "?v=1", UNKNOWN_PROTOCOL),
            ("local-file", "file:///" + wine_env.winpath(__file__).replace("\\", "/"),
             UNKNOWN_PROTOCOL),
            # Called last: Wine's own redirect loop goes on in the background
            # after the call has given up, for as long as the process lives.
            ("redirect-loop", srv.url("/redirect-loop?v=1"), REDIRECT_FAILED),
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
        for i in range(TIMING_RUNS):
            calls.append(("timed", "get", srv.url("/version/2.0?v=%d" % i), os.path.join(folder, "timed.ini")))
            calls.append(("raw", "raw", srv.url("/version/2.0?v=%d" % i), os.path.join(base, "raw.ini")))
        for name, url, _ in failures:
            with open(os.path.join(folder, name + ".ini"), "wb") as f:
                f.write(EARLIER)
            calls.append((name, "get", url, os.path.join(folder, name + ".ini")))

        out = os.path.join(base, "probe.txt")
        args = [wine_env.winpath(out)]
        for _, cmd, url, target in calls:
            args += [cmd, url, wine_env.winpath(target)]
        started = time.monotonic()
        status = wine_env.run_exe(PROBE, args, timeout=60, logname="download_probe.log")
        took = time.monotonic() - started
        if status != 0 or not os.path.exists(out):
            desktop.fail("download_probe ended with %d and no output" % status)
        lines = open(out, encoding="utf-8").read().split("\n")[:-1]
        if len(lines) != len(calls):
            desktop.fail("probe answered %d of %d calls" % (len(lines), len(calls)))
        results = {}
        for (label, _, _, _), line in zip(calls, lines):
            _, code, ms = line.split()
            results.setdefault(label, []).append((int(code, 16), float(ms)))
        loop_requests = sum(1 for t in srv.targets() if t.startswith("/redirect-loop"))

    errors = []
    for name, _, want in failures:
        got, ms = results[name][0]
        if got != want:
            errors.append("%s: result %08x, expected %08x" % (name, got, want))
        with open(os.path.join(folder, name + ".ini"), "rb") as f:
            if f.read() != EARLIER:
                errors.append("%s: the earlier file was changed" % name)
    for name, _, want in successes:
        got, _ = results[name][0]
        if got != 0:
            errors.append("%s: result %08x, expected success" % (name, got))
        with open(os.path.join(folder, name), "rb") as f:
            if f.read() != want:
                errors.append("%s: the file does not hold the body that was sent" % name)
    missing_result = results["missing"][0][0]
    if missing_result == 0 or os.path.exists(os.path.dirname(missing)):
        errors.append("missing folder: result %08x, folder exists: %s"
                      % (missing_result, os.path.exists(os.path.dirname(missing))))
    # Given up after a few redirects, not followed for ever.
    if loop_requests < 2 or results["redirect-loop"][0][1] > 2000:
        errors.append("redirect loop: %d requests, given up after %.0f ms"
                      % (loop_requests, results["redirect-loop"][0][1]))
    left = sorted(set(os.listdir(folder)) - {n + ".ini" for n, _, _ in failures}
                  - {n for n, _, _ in successes} - {"timed.ini"})
    if left:
        errors.append("files left beside the targets: %r" % left)
    if any(code != 0 for code, _ in results["timed"] + results["raw"]):
        errors.append("a timed download failed")

    median = lambda label: sorted(ms for _, ms in results[label])[TIMING_RUNS // 2]  # noqa: E731
    print("small file over loopback, median of %d: downloader %.1f ms, URLDownloadToFileW alone %.1f ms"
          % (TIMING_RUNS, median("timed"), median("raw")))
    print("3 MiB file: %.1f ms; redirect loop given up after %.0f ms (%d requests seen by then);"
          " probe run %.1f s" % (results["upgrade.exe"][0][1], results["redirect-loop"][0][1],
                                 loop_requests, took))

    if errors:
        desktop.fail("; ".join(errors))
    print("win32 download: all cases passed")


if __name__ == "__main__":
    main()
