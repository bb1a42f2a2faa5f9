"""The Wine side of the win32 end-to-end tests: one 32-bit prefix per build
tree (created once, reused), one persistent wineserver for the run, and
helpers to run Windows programs in it.

As ctest fixtures: `wine_env.py lock` waits until no other test run uses this
build tree (its prefix, server and Xvfb state) and holds it until `unlock`;
`wine_env.py start` creates the prefix when it is missing and starts
`wineserver -p` detached; `wine_env.py stop` ends it with `wineserver -k`
(before the fixture's Xvfb goes).

Never pipe wine's output: wineserver inherits the pipe and the reader can
hang. Everything goes to log files.
"""
import fcntl
import glob
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop  # noqa: E402

# Created with nothing in it: marks a prefix whose creation finished.
READY = "launcher-prefix-ready"

FONT_LINK = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink"
PREFIX_SETTINGS = [
    # The test display has no window manager. Managed windows would wait for
    # one (2 s for each window hidden or destroyed) and get no keyboard
    # focus; unmanaged, Wine places and focuses them itself.
    ["HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N"],
] + [
    # Chinese texts in dialogs and captions under code page 1252: the dialog
    # fonts fall back to the CJK font for the glyphs they lack.
    [FONT_LINK, "/v", face, "/t", "REG_MULTI_SZ", "/d", "wqy-microhei.ttc,WenQuanYi Micro Hei"]
    for face in ("Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif")
]


def build_dir():
    d = os.environ.get("E2E_BUILD_DIR")
    if not d:
        desktop.fail("E2E_BUILD_DIR is not set (run through ctest)")
    return d


def prefix():
    return os.environ.get("E2E_WINEPREFIX") or os.path.join(build_dir(), "wineprefix")


def state_dir():
    d = os.path.join(build_dir(), "e2e")
    os.makedirs(d, exist_ok=True)
    return d


def fixture_display():
    """The display of the run's Xvfb (xvfb_fixture.py), if there is one."""
    state = os.environ.get("E2E_XVFB_STATE")
    if state and os.path.exists(state):
        return open(state).read().split()[0]
    return None


def env(display=None, headless=False, extra=None):
    """The environment for wine and wineserver: our prefix, 32-bit, quiet,
    no Mono/Gecko installers, HOME and XDG folders inside the build tree.

    Every program gets the run's display, console programs too: the first
    program of a wineserver starts the desktop process, and one started
    without a display fixes the screen at 1024 x 768 for the server's life."""
    if display is None and not headless:
        display = fixture_display()
    home = os.path.join(state_dir(), "home")
    e = dict(os.environ)
    for k in ("WINELOADER", "WINESERVER", "WINEDLLPATH"):
        e.pop(k, None)
    e.update({
        "WINEPREFIX": prefix(),
        "WINEARCH": "win32",
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
        # The ANSI code page is 1252 under this locale.
        "LANG": "C.UTF-8",
    })
    e.pop("LC_ALL", None)
    if display:
        e["DISPLAY"] = display
    else:
        e.pop("DISPLAY", None)
    e.update(extra or {})
    for k in ("HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"):
        os.makedirs(e[k], exist_ok=True)
    return e


def log(name):
    return os.path.join(state_dir(), name)


def run_wait(args, e, timeout, logname):
    proc = desktop.spawn(args, env=e, log=log(logname))
    try:
        return proc.wait(timeout)
    except subprocess.TimeoutExpired:
        desktop.stop(proc)
        desktop.fail("%s did not finish within %d s (see %s)" % (args[0], timeout, log(logname)))


def ensure_prefix():
    """Creates the prefix once per build tree; returns the seconds it took
    (0 when it was there already)."""
    pfx = prefix()
    os.makedirs(os.path.dirname(pfx), exist_ok=True)
    with open(pfx + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(os.path.join(pfx, READY)):
            return 0.0
        started = time.monotonic()
        # No display: nothing of the prefix set-up needs one; its server is
        # waited out below, so no desktop process of it outlives the set-up.
        e = env(headless=True)
        if run_wait(["wineboot", "-i"], e, 120, "wineboot.log") != 0:
            desktop.fail("wineboot failed (see %s)" % log("wineboot.log"))
        for args in PREFIX_SETTINGS:
            if run_wait(["wine", "reg", "add"] + args + ["/f"], e, 60, "reg.log") != 0:
                desktop.fail("could not configure the prefix (see %s)" % log("reg.log"))
        run_wait(["wineserver", "-w"], e, 60, "wineserver-wait.log")
        open(os.path.join(pfx, READY), "w").close()
        return time.monotonic() - started


def start():
    took = ensure_prefix()
    if took:
        print("created the Wine prefix in %.1f s" % took)
    else:
        print("reusing the Wine prefix")
    # Detached and persistent for the run; `-k` ends it in the cleanup.
    e = env()
    desktop.spawn(["wineserver", "-p"], env=e, log=log("wineserver.log"))
    desktop.wait_for(server_pids, 10, "wineserver")


def server_pids():
    """The wineserver processes of our prefix: a server works in a folder
    named after the prefix's device and inode."""
    st = os.stat(prefix())
    tag = "server-%x-%x" % (st.st_dev, st.st_ino)
    pids = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if not open("/proc/%s/comm" % pid).read().startswith("wineserver"):
                continue
            if os.readlink("/proc/%s/cwd" % pid).endswith(tag):
                pids.append(int(pid))
        except OSError:
            continue
    return pids


def stop():
    if not os.path.isdir(prefix()):
        return
    e = env(headless=True)
    run_wait(["wineserver", "-k"], e, 30, "wineserver-kill.log")
    # -k sends the signal; wait until the server is gone.
    desktop.wait_for(lambda: not server_pids(), 15, "wineserver to end")


def internet_cache():
    """{path: size} of the files in the prefix's internet cache (the system's
    cache of downloads), its index files left out."""
    found = {}
    for users in glob.glob(os.path.join(prefix(), "drive_c", "users", "*")):
        for sub in ("INetCache", "Temporary Internet Files"):
            root = os.path.join(users, "AppData", "Local", "Microsoft", "Windows", sub)
            for folder, _, names in os.walk(root):
                for name in names:
                    if name != "index.dat":
                        path = os.path.join(folder, name)
                        found[path] = os.path.getsize(path)
    return found


def new_in_cache(before, pages=()):
    """What the internet cache holds now that it did not at `before`, but
    for the copies of the browser's `pages` (names without their suffix)."""
    return sorted(p for p, size in internet_cache().items() if before.get(p) != size
                  and os.path.basename(p).split("[")[0] not in pages)


def winpath(path):
    """The Windows path of a Unix path, through Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def start_exe(exe, args=(), display=None, cwd=None, logname="wine.log", extra_env=None):
    """Starts a Windows program; the process is the program itself (wine
    becomes it), so it is stopped by this pid."""
    return desktop.spawn(["wine", exe] + list(args), env=env(display, extra=extra_env),
                         cwd=cwd or state_dir(), log=log(logname))


def record_default_browser(record, display=None):
    """Points winebrowser (what ShellExecute runs for an http address) at a
    script that appends each address it gets, one a line, to the file named
    by E2E_BROWSER_RECORD; returns that variable for the programs' environment."""
    script = os.path.join(state_dir(), "browser.sh")
    with open(script, "w") as f:
        f.write('#!/bin/sh\nprintf "%s\\n" "$@" >> "$E2E_BROWSER_RECORD"\n')
    os.chmod(script, 0o755)
    if run_exe("reg", ["add", "HKCU\\Software\\Wine\\WineBrowser", "/v", "Browsers", "/d", script,
                       "/f"], display=display, logname="reg.log") != 0:
        desktop.fail("could not set the test browser")
    return {"E2E_BROWSER_RECORD": record}


def chinese_system():
    """The environment of a program that runs as on a Chinese Windows (ANSI
    code page 936). Wine takes the code page from the Unix locale, which
    glibc must really have: zh_CN.UTF-8 is compiled once per build tree and
    found through LOCPATH."""
    folder = os.path.join(state_dir(), "locale")
    compiled = os.path.join(folder, "zh_CN.UTF-8")
    if not os.path.exists(os.path.join(compiled, "LC_CTYPE")):
        os.makedirs(folder, exist_ok=True)
        if run_wait(["localedef", "-i", "zh_CN", "-f", "UTF-8", compiled], dict(os.environ), 60,
                    "localedef.log") != 0:
            desktop.fail("could not compile the zh_CN.UTF-8 locale (see %s)" % log("localedef.log"))
    return {"LC_ALL": "zh_CN.UTF-8", "LOCPATH": folder}


def run_exe(exe, args=(), display=None, cwd=None, timeout=30, logname="wine.log"):
    proc = start_exe(exe, args, display, cwd, logname)
    try:
        return proc.wait(timeout)
    except subprocess.TimeoutExpired:
        desktop.stop(proc)
        desktop.fail("%s did not end within %d s" % (os.path.basename(exe), timeout))


# A test run holds the build tree through a small process that keeps an
# exclusive lock open; it gives up by itself after an hour in case the run
# never unlocks.
LOCK_HOLD_S = 3600


def lock_paths():
    d = state_dir()
    return os.path.join(d, "run.lock"), os.path.join(d, "run.lock.owner")


def hold(lock_path, owner_path):
    with open(lock_path, "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        with open(owner_path + ".tmp", "w") as f:
            f.write(str(os.getpid()))
        os.replace(owner_path + ".tmp", owner_path)
        time.sleep(LOCK_HOLD_S)


def owner(owner_path):
    try:
        return int(open(owner_path).read())
    except (OSError, ValueError):
        return None


def lock():
    lock_path, owner_path = lock_paths()
    holder = desktop.spawn([sys.executable, os.path.abspath(__file__), "hold", lock_path, owner_path],
                           log=log("run-lock.log"))
    started = time.monotonic()
    while owner(owner_path) != holder.pid:
        if holder.poll() is not None:
            desktop.fail("the lock holder ended (see %s)" % log("run-lock.log"))
        if time.monotonic() - started > 240:
            desktop.stop(holder)
            desktop.fail("another test run kept this build tree for 240 s")
        time.sleep(0.1)
    waited = time.monotonic() - started
    if waited > 1:
        print("waited %.0f s for another test run in this build tree" % waited)


def unlock():
    _, owner_path = lock_paths()
    pid = owner(owner_path)
    if pid is None:
        return
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass


# The launcher's windows under Wine, by size: the background and the login window.
BACK_SIZE = (1039, 652)
LOGIN_SIZE = (757, 563)


def launcher_exe(variable="E2E_LAUNCHER"):
    """The launcher.exe the ctest registration names in `variable`."""
    return os.environ.get(variable) or desktop.fail("%s is not set" % variable)


def face(display):
    """(back, login) geometries of the visible login face."""
    wins = [desktop.window_geometry(display, w)
            for w in desktop.xdotool(display, "search", "--onlyvisible", "--class",
                                     "launcher.exe", check=False).split()]
    back = [g for g in wins if g and g[2:] == BACK_SIZE]
    login = [g for g in wins if g and g[2:] == LOGIN_SIZE]
    return (back[0] if back else None, login[0] if login else None)


def answer(display, box, key):
    """A key to a message box: focused first, so that nothing depends on
    where the pointer is."""
    desktop.xdotool(display, "windowfocus", "--sync", box)
    desktop.xdotool(display, "key", key)


if __name__ == "__main__":
    if sys.argv[1] == "hold":
        hold(sys.argv[2], sys.argv[3])
    else:
        {"start": start, "stop": stop, "lock": lock, "unlock": unlock}[sys.argv[1]]()

