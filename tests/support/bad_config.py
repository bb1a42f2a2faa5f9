"""The bad launcher.ini cases that both builds go through (gtk_bad_config.py,
win32_bad_config.py): what lies beside the executable, what the launcher
must do with it, and what must be left on disk afterwards.

A case ends in one of three ways:
- "broken": the broken-configuration box over the login face; OK ends it;
- "works": the login face, the login page requested, no box; the version
  check's outcome and the install time written; the exit question ends it;
- "quiet": as "works", but the writes to launcher.ini fail (and, in a
  read-only folder, every write): what cannot be written stays exactly as
  it was, and nothing is shown about it.

The tests run as root, for whom mode bits do not count. Two wrappers put
the launcher where root may not read or write, without any daemon:
- UNREADABLE starts it with CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH out of
  its bounding set (setpriv): the mode bits of root's own files count again;
- READ_ONLY starts it in a private mount namespace (unshare -m) in which its
  folder is bound onto itself read-only: every write there fails with
  EROFS, and the mount ends with the process.
Under Wine the wineserver opens and renames the files, so it must run under
the same wrapper (win32_bad_config.py starts a server that way).
"""
import hashlib
import os
import random
import re
import stat
import time

import desktop

BROKEN = "^系统提示$"
OFFER = "^升级提示$"
CONFIRM = "^退出提示$"
STAMP = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]$")
CHECKED = "load version config success"

UNREADABLE = ["setpriv", "--bounding-set", "-dac_override,-dac_read_search", "--"]


def read_only(folder):
    return ["unshare", "-m", "--", "sh", "-c",
            'mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" "$0" && exec "$@"', folder]


def slug(name):
    return re.sub(r"[^A-Za-z0-9]+", "-", name)


def config(srv, name, eol=b"\r\n", version=b"1.00", check=b"1.00", login_tail=b""):
    lines = [b"[common]", b"version=" + version,
             b"versionCheckUrl=" + srv.url("/version/").encode() + check,
             b"[platform]", b"loginUrl=" + srv.url("/login.html?case=" + slug(name)).encode() + login_tail,
             # A game address the login page does not contain: an empty one
             # would hand the login page over at once.
             b"mainUrl=/game"]
    return eol.join(lines) + eol


def write(folder, data, mode=None):
    path = os.path.join(folder, "launcher.ini")
    with open(path, "wb") as f:
        f.write(data)
    if mode is not None:
        os.chmod(path, mode)


def fifty_megabytes(folder, srv, name):
    line = b"filler=" + b"x" * 70 + b"\r\n"
    write(folder, config(srv, name) + b"[padding]\r\n" + line * (50 * 2 ** 20 // len(line)))


def binary(folder, srv, name):
    junk = bytearray(random.Random(10).randbytes(64 * 1024))
    junk[:2] = b"#\0"  # no byte order mark by chance
    write(folder, bytes(junk))


def nul_bytes(folder, srv, name):
    # Not text: the system's INI writes would cut the file down.
    junk = random.Random(11).randbytes(4096)
    write(folder, b"#" + junk + b"\r\n" +
          config(srv, name, version=b"1.00\0beta", login_tail=b"\0junk") + junk)


def folder_ini(folder, srv, name):
    os.mkdir(os.path.join(folder, "launcher.ini"))


CASES = [
    # name, ending, wrapper, what must stay as it was ("folder", "ini" or
    # nothing), layout
    ("missing", "broken", None, None, lambda f, s, n: None),
    ("empty", "broken", None, None, lambda f, s, n: write(f, b"")),
    ("50 MB", "works", None, None, fifty_megabytes),
    ("binary", "broken", None, "folder", binary),
    ("NUL bytes", "broken", None, "folder", nul_bytes),
    ("UTF-16 without BOM", "broken", None, "folder",
     lambda f, s, n: write(f, config(s, n).decode().encode("utf-16-le"))),
    ("UTF-8 BOM", "works", None, None,
     lambda f, s, n: write(f, b"\xef\xbb\xbf; \xe5\x90\xaf\xe5\x8a\xa8\xe5\x99\xa8\r\n" + config(s, n))),
    ("UTF-16", "works", None, None,
     lambda f, s, n: write(f, b"\xff\xfe" + config(s, n).decode().encode("utf-16-le"))),
    ("CR only", "works", None, None, lambda f, s, n: write(f, config(s, n, eol=b"\r"))),
    ("folder", "broken", None, "folder", folder_ini),
    ("no read permission", "broken", "unreadable", "folder",
     lambda f, s, n: write(f, config(s, n), 0o000)),
    # The version file is stored in "update"; the log values are not.
    ("read-only file", "quiet", "unreadable", "ini", lambda f, s, n: write(f, config(s, n), 0o444)),
    # A version file that could be stored would offer an upgrade: none is.
    ("read-only folder", "quiet", "read-only", "folder",
     lambda f, s, n: write(f, config(s, n, check=b"9.99"))),
]


def snapshot(folder):
    """Every name under the folder with its kind, mode and content hash."""
    out = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            st = os.lstat(path)
            digest = None
            if stat.S_ISREG(st.st_mode):
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            out[os.path.relpath(path, folder)] = (stat.S_IFMT(st.st_mode), st.st_mode & 0o7777, digest)
    return out


def check_after(name, ending, keep, folder, before):
    after = snapshot(folder)
    if keep == "folder" and after != before:
        desktop.fail("%s: the folder changed: %r -> %r" % (name, before, after))
    if keep == "ini" and after.get("launcher.ini") != before.get("launcher.ini"):
        desktop.fail("%s: launcher.ini changed" % name)
    extra = set(after) - set(before) - {"launcher.ini", "update", os.path.join("update", "upgrade.ini"),
                                        os.path.join("update", "launcher.lock")}
    if extra:
        desktop.fail("%s: left behind %r" % (name, sorted(extra)))
    if keep:
        return
    ini = os.path.join(folder, "launcher.ini")
    stamp = desktop.read_ini_value(ini, "install", "installTime")
    if not stamp or not STAMP.match(stamp):
        desktop.fail("%s: installTime is %r" % (name, stamp))
    if ending == "works":
        got = desktop.read_ini_value(ini, "log", "versionCheckLog")
        if got != CHECKED:
            desktop.fail("%s: versionCheckLog is %r" % (name, got))


def run_all(driver, srv, only=()):
    """driver.install(name) copies the launcher into a new folder of that
    name and gives the folder; driver.launch(folder,
    name, wrap) starts it (wrap: a command prefix) and gives a run with:
    running(), face() (both windows of the login face visible), box(title)
    (a visible box's id or None), answer(box, key), close_login() (asks to
    close the login window; the exit question's id), wait_exit(timeout) and
    stop(). only: names of the cases to run (all when empty)."""
    for name, ending, wrapper, keep, layout in CASES:
        if only and name not in only:
            continue
        folder = driver.install(name)
        layout(folder, srv, name)
        size = os.path.getsize(os.path.join(folder, "launcher.ini")) if name == "50 MB" else 0
        before = snapshot(folder)
        wrap = {None: [], "unreadable": UNREADABLE, "read-only": read_only(folder)}[wrapper]
        started = time.monotonic()
        run = driver.launch(folder, name, wrap)

        def wait(predicate, timeout, what):
            def check():
                if not run.running():
                    desktop.fail("%s: the launcher ended while waiting for %s" % (name, what))
                return predicate()
            return desktop.wait_for(check, timeout, "%s: %s" % (name, what))

        try:
            if ending == "broken":
                box = wait(lambda: run.box(BROKEN), 60, "the broken-configuration box")
                if not run.face():
                    desktop.fail("%s: the login face is not under the box" % name)
                run.answer(box, "Return")
            else:
                wait(run.face, 60, "the login face")
                page = ("GET", "/login.html?case=" + slug(name))

                def requested():
                    if run.box(BROKEN):
                        desktop.fail("%s: the broken-configuration box came up" % name)
                    return page in srv.requests()
                wait(requested, 30, "the login page to be requested")
                # Main has returned (the face is up); give a late box its chance.
                time.sleep(1.5)
                for title in (BROKEN, OFFER):
                    if run.box(title):
                        desktop.fail("%s: a box titled %s came up" % (name, title))
                run.answer(run.close_login(), "Return")
            run.wait_exit(20)
            print("%s: %s after %.1f s" % (name, ending, time.monotonic() - started), flush=True)
        finally:
            run.stop()
        check_after(name, ending, keep, folder, before)
        if size and os.path.getsize(os.path.join(folder, "launcher.ini")) < size:
            desktop.fail("%s: launcher.ini lost its padding" % name)
