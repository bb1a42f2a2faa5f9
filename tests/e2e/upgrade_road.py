"""The upgrade road from the packages, signed, as an operator and a player
meet it: 1.00 installed from its package; 1.01 released with --site and the
test key, served from the generated update folder; the offer accepted, the
upgrade program replacing the launcher, 1.01 on screen, launcher.ini changed
in its version only; no offer at the next start. gtk: argv[1] is the built
launcher (its folder is the build folder); win32: the Wine fixture's. Prints
the time from the player's OK to the new face and the upgrade program's size."""
import os
import re
import shutil
import signal
import sys
import tarfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import release_package as rp  # noqa: E402
import wine_env  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402
from test_server import TestServer  # noqa: E402

GTK = len(sys.argv) > 1
BUILD, PROGRAM, LAUNCHER = ("linux", "upgrade", "launcher") if GTK else ("windows", "upgrade.exe",
                                                                      "launcher.exe")
KEY = os.path.join(desktop.ROOT, "tests", "support", "upgrade_test_key.pem")
BACK, OFFER = "^Varnholt登录器$", "^升级提示$"
LOGIN = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>登录</body></html>"


def release(version, srv, work):
    """Releases `version` into work/<version>/dist; returns that folder."""
    rp.release(os.path.join(work, version), BUILD, "--version", version, "--site",
               srv.url("/files/site"), "--upgrade-key", KEY, "--login-url", srv.url("/login.html"),
               "--main-url", "/game", build_root=os.path.join(work, "build"))
    return os.path.join(work, version, "dist")


def install(dist, version, folder):
    """Unpacks the player's package of `version` as `folder`."""
    base = "varnholt-" + version
    if GTK:
        with tarfile.open(os.path.join(dist, base + "-linux-x86_64.tar.gz")) as t:
            t.extractall(os.path.dirname(folder))
        os.rename(os.path.join(os.path.dirname(folder), base), folder)
    else:
        with zipfile.ZipFile(os.path.join(dist, base + "-windows-x86.zip")) as z:
            z.extractall(folder)
    return os.path.join(folder, LAUNCHER)


def sections(ini):
    """launcher.ini's text up to what the launcher writes, without blank lines
    (Wine's profile writes drop them)."""
    text = open(ini, "rb").read().split(b"[install]")[0]
    return re.sub(rb"(\r\n)+", b"\r\n", text)


def main():
    build = os.path.dirname(os.path.abspath(sys.argv[1])) if GTK else wine_env.build_dir()
    work = os.path.join(build, "road")
    shutil.rmtree(work, ignore_errors=True)
    with desktop.Xvfb() as display, TestServer(pages={"/login.html": LOGIN}, lifetime=1500) as srv:
        old, new = release("1.00", srv, work), release("1.01", srv, work)
        site = os.path.join(new, "site", "update", BUILD)
        for name in os.listdir(site):
            srv.serve_file("site/update/%s/%s" % (BUILD, name), open(os.path.join(site, name), "rb").read())
        new_launcher = open(install(new, "1.01", os.path.join(work, "unpacked")), "rb").read()
        exe = install(old, "1.00", os.path.join(work, "玩 家"))
        ini = os.path.join(os.path.dirname(exe), "launcher.ini")
        before = sections(ini)
        checks = lambda: sum("/update/%s/upgrade.ini" % BUILD in t for t in srv.targets())  # noqa
        run = GtkLauncher(exe, in_place=True) if GTK else None
        if GTK:
            run.start(display)
        else:
            run_proc = wine_env.start_exe(exe, display=display, logname="road.log")
        old_proc = run.proc if GTK else run_proc
        try:
            offer = desktop.wait_window(display, OFFER, 60)
            ok = time.monotonic()
            desktop.xdotool(display, "windowfocus", "--sync", offer, "key", "Return")
            desktop.wait_for(lambda: old_proc.poll() is not None, 60, "the old launcher's end")
            face = desktop.wait_window(display, BACK, 60)
            print("OK to the new face: %.2f s; %s: %d bytes" % (
                time.monotonic() - ok, PROGRAM, os.path.getsize(os.path.join(site, PROGRAM))), flush=True)
            desktop.wait_for(lambda: checks() >= 2, 30, "the new launcher's check")
            if open(exe, "rb").read() != new_launcher:
                desktop.fail("the launcher is not the packaged 1.01")
            if sections(ini).replace(b"version=1.01\r\n", b"version=1.00\r\n", 1) != before:
                desktop.fail("launcher.ini changed beyond its version:\n%r" % open(ini, "rb").read())
            time.sleep(2)  # an offer from the second check would be up by now
            if desktop.find_windows(display, OFFER):
                desktop.fail("an offer at the start of 1.01")
            if desktop.read_ini_value(ini, "log", "versionCheckLog") != "load version config success":
                desktop.fail("the second check failed: %r" % open(ini, "rb").read())
            os.kill(int(desktop.xdotool(display, "getwindowpid", face)), signal.SIGTERM)
            desktop.wait_for(lambda: not desktop.find_windows(display, BACK), 15, "the end of 1.01")
        finally:
            desktop.stop(old_proc)
            if GTK:
                run.__exit__(None, None, None)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
