"""The Windows package: the same zip from two builds, its files and times;
unpacked into a Chinese folder with a blank and filled in, it shows its face
under Wine, checks the version and keeps the template's lines."""
import calendar
import io
import os
import shutil
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import release_package as rp  # noqa: E402
import signing  # noqa: E402
import wine_env  # noqa: E402
from test_server import TestServer  # noqa: E402


def main():
    z = zipfile.ZipFile(io.BytesIO(rp.built_twice(wine_env.build_dir(), "windows", "windows-x86.zip")))
    # Signed, in the second build folder (its launcher.exe built with the key).
    rp.release(wine_env.build_dir() + "/package/b", "windows", "--upgrade-key", signing.TEST_KEY,
               *rp.site_options(wine_env.build_dir()))
    rp.checked_site(wine_env.build_dir() + "/package/b/dist", "windows", signed=True)
    times = {abs(calendar.timegm(i.date_time + (0, 0, 0)) - rp.commit_time()) <= 1 for i in z.infolist()}
    readme = z.read("readme.txt").decode("utf-8-sig")
    # launcher.exe is build/win32's, whose version record win32_image checks.
    if z.namelist() != ["launcher.exe", "launcher.ini", "readme.txt"] or times != {True} or \
            z.read("launcher.exe") != open(os.environ["E2E_LAUNCHER"], "rb").read() or \
            "Varnholt登录器 %s\r\n" % rp.VERSION not in readme:
        desktop.fail("zip %s, times %s, readme:\n%s" % (z.namelist(), times, readme))
    folder = os.path.join(desktop.scratch_dir(), "玩家 的游戏")
    z.extractall(folder)
    path = os.path.join(folder, "launcher.ini")
    try:
        with TestServer() as srv, desktop.Xvfb() as display:
            ini = rp.filled_template(z.read("launcher.ini"), srv)
            open(path, "wb").write(ini)
            proc = wine_env.start_exe(os.path.join(folder, "launcher.exe"), display=display,
                                      logname="package.log", extra_env=wine_env.chinese_system())
            try:
                desktop.wait_window(display, "^Varnholt登录器$", timeout=30)
                desktop.wait_for(lambda: desktop.read_ini_value(path, "log", "versionCheckLog")
                                 == "load version config success", 20, "the version check")
            finally:
                desktop.stop(proc)
        kept = open(path, "rb").read().split(b"\r\n")
        if [line for line in ini.split(b"\r\n") if line not in kept]:
            desktop.fail("the launcher lost lines of launcher.ini:\n%s" % b"\n".join(kept).decode())
    finally:
        shutil.rmtree(os.path.dirname(folder), ignore_errors=True)
    print("win32 package: all checks passed")


if __name__ == "__main__":
    main()
