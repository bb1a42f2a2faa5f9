"""The upgrade road from the packages, signed, as an operator and a player
meet it: 1.00 installed from its package; 1.01 released with --site and the
test key, served from the generated update folder; the offer accepted, the
project's upgrade program replacing the launcher, 1.01 on screen; no offer at
the next start. argv[1]: gtk or win32, argv[2]: the build folder. Prints the
time from the player's OK to the new face, and the upgrade program's size."""
import io
import os
import shutil
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

GTK = sys.argv[1] == "gtk"
BUILD, NAME = ("linux", "upgrade") if GTK else ("windows", "upgrade.exe")
KEY = os.path.join(desktop.ROOT, "tests", "support", "upgrade_test_key.pem")
BACK, OFFER = "^Varnholt登录器$", "^升级提示$"
LOGIN = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>登录</body></html>"


def release(version, srv, work):
    """The packages and the update folder of `version`; {name: bytes} of dist/."""
    folder = os.path.join(work, version)
    return rp.release(folder, BUILD, "--version", version, "--site", srv.url("/files/site"),
                      "--upgrade-key", KEY, "--login-url", srv.url("/login.html"),
                      "--main-url", "/game", build_root=os.path.join(work, "build"))


def install(dist, version, folder):
    """Unpacks the player's package into `folder`; the launcher's path."""
    base = "varnholt-" + version
    if GTK:
        with tarfile.open(os.path.join(dist, base + "-linux-x86_64.tar.gz")) as t:
            t.extractall(os.path.dirname(folder))
        os.rename(os.path.join(os.path.dirname(folder), base), folder)
        return os.path.join(folder, "launcher")
    with zipfile.ZipFile(os.path.join(dist, base + "-windows-x86.zip")) as z:
        z.extractall(folder)
    return os.path.join(folder, "launcher.exe")


def main():
    work = os.path.join(sys.argv[2], "road")
    shutil.rmtree(work, ignore_errors=True)
    with desktop.Xvfb() as display, TestServer(pages={"/login.html": LOGIN}, lifetime=1500) as srv:
        release("1.00", srv, work)
        release("1.01", srv, work)
        site = os.path.join(work, "1.01", "dist", "site", "update", BUILD)
        for name in os.listdir(site):
            srv.serve_file("site/update/%s/%s" % (BUILD, name), open(os.path.join(site, name), "rb").read())
        size = os.path.getsize(os.path.join(site, NAME))

        run = GtkLauncher(os.path.join(work, "none"), folder_name="玩 家", in_place=True) if GTK else None
        folder = run.folder if GTK else os.path.join(desktop.scratch_dir("launcher-road-"), "玩 家")
        if GTK:
            folder = os.path.join(run.root, "玩 家")
        exe = install(os.path.join(work, "1.00", "dist"), "1.00", folder)
        ini = os.path.join(folder, "launcher.ini")
        before = open(ini, "rb").read()
        new_launcher = open(install(os.path.join(work, "1.01", "dist"), "1.01",
                                    os.path.join(work, "unpacked")), "rb").read()
        env = run.env(display) if GTK else None
        checks = lambda: sum("/update/%s/upgrade.ini" % BUILD in t for t in srv.targets())  # noqa
        procs = []
        try:
            procs.append(desktop.spawn([exe], env, run.cwd, run.log) if GTK else
                         wine_env.start_exe(exe, display=display, logname="road.log"))
            offer = desktop.wait_window(display, OFFER, 60)
            ok = time.monotonic()
            desktop.xdotool(display, "windowfocus", "--sync", offer, "key", "Return")
            # The new launcher's face, after the old one ended and the upgrade program ran.
            desktop.wait_for(lambda: procs[0].poll() is not None, 30, "the old launcher's end")
            desktop.wait_for(lambda: checks() >= 2 and desktop.find_windows(display, BACK), 60,
                             "the new launcher's face and its check")
            print("OK to the new face: %.2f s; the upgrade program: %d bytes"
                  % (time.monotonic() - ok, size), flush=True)
            after = open(ini, "rb").read()
            if open(exe, "rb").read() != new_launcher:
                desktop.fail("the launcher is not the packaged 1.01")
            if (after.replace(b"version=1.01\r\n", b"version=1.00\r\n", 1).split(b"[install]")[0]
                    != before.split(b"[install]")[0]):
                desktop.fail("launcher.ini changed beyond its version:\n%r\n%r" % (before, after))
            time.sleep(2)  # the second check has run: an offer would be up by now
            if desktop.find_windows(display, OFFER):
                desktop.fail("an offer at the start of 1.01")
            if desktop.read_ini_value(ini, "log", "versionCheckLog") != "load version config success":
                desktop.fail("the second check: %r" % after)
        finally:
            for pid in desktop.pids_of_windows(display, BACK) if hasattr(desktop, "pids_of_windows") else ():
                os.kill(pid, 15)
            for proc in procs:
                desktop.stop(proc)
            if GTK:
                shutil.rmtree(run.root, ignore_errors=True)
            else:
                shutil.rmtree(os.path.dirname(folder), ignore_errors=True)


if __name__ == "__main__":
    main()
