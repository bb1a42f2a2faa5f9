"""The Windows package as a player gets it. tools/release.sh, run twice in two
build folders, makes the same zip; it holds launcher.exe (its version record
from VERSION), the launcher.ini template and the players' text, each with
the commit's time. Unpacked into a folder whose path has a blank and Chinese
characters, filled in as an operator does, and started under Wine as on a
Chinese system, it shows its face, checks the version at the server and
keeps the template's comments through its own writes."""
import calendar
import io
import os
import shutil
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import release_package as rp  # noqa: E402
import wine_env  # noqa: E402
from test_server import TestServer  # noqa: E402
from win32_image import RT_VERSION, Pe, version_strings  # noqa: E402

FILES = ["launcher.exe", "launcher.ini", "readme.txt"]


def contents(data):
    z = zipfile.ZipFile(io.BytesIO(data))
    if [i.filename for i in z.infolist()] != FILES:
        desktop.fail("the zip holds %s" % z.namelist())
    for i in z.infolist():  # DOS times: two seconds apart
        if abs(calendar.timegm(i.date_time + (0, 0, 0)) - rp.commit_time()) > 1:
            desktop.fail("%s has the time %s, not the commit's" % (i.filename, i.date_time))
    strings = version_strings(Pe(z.read("launcher.exe")).resources()[(RT_VERSION, 1)])[1]
    if (strings["FileVersion"], strings["ProductVersion"]) != (rp.VERSION, rp.VERSION):
        desktop.fail("launcher.exe's version record: %s" % strings)
    readme = z.read("readme.txt").decode("utf-8-sig")
    if "Varnholt登录器 " + rp.VERSION not in readme or "\r\n" not in readme:
        desktop.fail("readme.txt:\n" + readme)
    return z


def first_start(z, display):
    folder = os.path.join(desktop.scratch_dir(), "玩家 的游戏")
    z.extractall(folder)
    try:
        with TestServer() as srv:
            ini = rp.filled_template(z.read("launcher.ini"), {
                "versionCheckUrl": srv.url("/version/" + rp.VERSION),
                "loginUrl": srv.url("/login.html"), "mainUrl": srv.url("/game.html")})
            path = os.path.join(folder, "launcher.ini")
            with open(path, "wb") as f:
                f.write(ini)
            proc = wine_env.start_exe(os.path.join(folder, "launcher.exe"), display=display,
                                      logname="package.log", extra_env=wine_env.chinese_system())
            try:
                desktop.wait_window(display, "^Varnholt登录器$", timeout=30)
                desktop.wait_for(lambda: any(
                    (desktop.window_geometry(display, w) or (0,) * 4)[2:] == (757, 563)
                    for w in (desktop.xdotool(display, "search", "--onlyvisible", "--class",
                                              "launcher.exe", check=False) or "").split()),
                    10, "the login window")
                desktop.wait_for(lambda: desktop.read_ini_value(path, "log", "versionCheckLog")
                                 == "load version config success", 20, "the version check")
            finally:
                desktop.stop(proc)
        kept = open(path, "rb").read().split(b"\r\n")
        if [line for line in ini.split(b"\r\n") if line not in kept]:
            desktop.fail("the launcher lost lines of its launcher.ini:\n%s" % b"\n".join(kept))
    finally:
        shutil.rmtree(os.path.dirname(folder), ignore_errors=True)


def main():
    name, data = rp.built_twice(wine_env.build_dir(), "windows")
    if name != "varnholt-%s-windows-x86.zip" % rp.VERSION:
        desktop.fail("the package is named " + name)
    z = contents(data)
    with desktop.Xvfb() as display:
        first_start(z, display)
    print("%s: %d bytes, the same from two builds; first start passed" % (name, len(data)))


if __name__ == "__main__":
    main()
