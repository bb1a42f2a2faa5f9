"""The Linux package as a player gets it. tools/release.sh, run twice in two
build folders, makes the same tarball: one folder with the stripped launcher,
the launcher.ini template, the players' text naming the packages to install,
the menu entry, its icon and the menu script, owned by root with fixed modes
and the commit's time. Unpacked into a fresh folder and filled in, it shows
its face and login page under Xvfb and checks the version; its menu script
puts a valid entry into a scratch XDG_DATA_HOME that starts this launcher,
and takes it out again. Built with an operator's name and pictures, the
package carries that caption, picture and name."""
import io
import os
import shutil
import signal
import subprocess
import sys
import tarfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import browser_site  # noqa: E402
import desktop  # noqa: E402
import release_package as rp  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402
from test_server import TestServer  # noqa: E402

COLOUR = (200, 30, 160)  # the operator's background picture, opaque below its top band


def contents(data, base, menu_id, caption):
    t = tarfile.open(fileobj=io.BytesIO(data))
    want = [(base, 0o755)] + sorted((base + "/" + n, m) for n, m in (
        ("install-menu.sh", 0o755), ("launcher", 0o755), ("launcher.ini", 0o644),
        ("readme.txt", 0o644), (menu_id + ".desktop", 0o644), (menu_id + ".png", 0o644)))
    got = [(m.name, m.mode) for m in t.getmembers()]
    if got != want or {(m.uid, m.gid, m.uname, m.mtime) for m in t.getmembers()} != \
            {(0, 0, "", rp.commit_time())}:
        desktop.fail("the tarball holds %s" % [(m.name, oct(m.mode), m.uid, m.mtime) for m in t])
    readme = t.extractfile(base + "/readme.txt").read().decode()
    if any(s not in readme for s in (caption + " " + rp.VERSION, "apt install", "dnf install")):
        desktop.fail("readme.txt:\n" + readme)
    if "Name=%s\n" % caption not in t.extractfile(base + "/%s.desktop" % menu_id).read().decode():
        desktop.fail("the menu entry does not name " + caption)
    return t


def menu(run, folder, menu_id, caption):
    env = run.env(run.display)
    data = env["XDG_DATA_HOME"]
    entry = os.path.join(data, "applications", menu_id + ".desktop")
    icon = os.path.join(data, "icons", "hicolor", "48x48", "apps", menu_id + ".png")
    subprocess.run([os.path.join(folder, "install-menu.sh")], env=env, check=True, timeout=20)
    check = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
    if check.returncode or check.stdout or not os.path.exists(icon):
        desktop.fail("menu entry %s: %s" % (entry, check.stdout))
    desktop.stop(run.proc)
    gio = desktop.spawn(["gio", "launch", entry], env=env, log=os.path.join(run.root, "gio.log"))
    try:
        wid = desktop.wait_window(run.display, "^%s$" % caption)
        pid = int(desktop.xdotool(run.display, "getwindowpid", wid))
        if os.readlink("/proc/%d/exe" % pid) != os.path.realpath(run.exe):
            desktop.fail("the menu entry started %s" % os.readlink("/proc/%d/exe" % pid))
        os.kill(pid, signal.SIGTERM)
        desktop.wait_for(lambda: not desktop.find_windows(run.display, "^%s$" % caption), 10,
                         "the launcher of the menu entry to end")
    finally:
        desktop.stop(gio)
    subprocess.run([os.path.join(folder, "install-menu.sh"), "--remove"], env=env, check=True,
                   timeout=20)
    if os.path.exists(entry) or os.path.exists(icon):
        desktop.fail("--remove left the entry or its icon")


def first_start(t, base, menu_id, caption, display, branded):
    folder = os.path.join(desktop.scratch_dir(), "新 文件夹")
    t.extractall(folder)
    try:
        start_unpacked(t, folder, base, menu_id, caption, display, branded)
    finally:
        shutil.rmtree(os.path.dirname(folder), ignore_errors=True)


def start_unpacked(t, folder, base, menu_id, caption, display, branded):
    with TestServer(pages=browser_site.PAGES) as srv, \
            GtkLauncher(os.path.join(folder, base, "launcher"), in_place=True) as run:
        ini = rp.filled_template(t.extractfile(base + "/launcher.ini").read(), {
            "versionCheckUrl": srv.url("/version/" + rp.VERSION),
            "loginUrl": srv.url("/login.html"), "mainUrl": srv.url("/game.html")})
        with open(run.ini, "wb") as f:
            f.write(ini)
        run.start(display)
        back = run.wait_window("^%s$" % caption)
        login = desktop.wait_for(lambda: run.window_of_size(*browser_site.LOGIN_SIZE), 10,
                                 "the login window")
        browser_site.wait_login_page(run, login)
        x, y = run.geometry(back)[:2]
        if branded and browser_site.pixel(display, x + 100, y + 300) != COLOUR:
            desktop.fail("the operator's background is not shown")
        desktop.wait_for(lambda: desktop.read_ini_value(run.ini, "log", "versionCheckLog")
                         == "load version config success", 20, "the version check")
        kept = open(run.ini, "rb").read().split(b"\r\n")
        if [line for line in ini.split(b"\r\n") if line not in kept]:
            desktop.fail("the launcher lost lines of its launcher.ini")
        if not branded:
            menu(run, os.path.join(folder, base), menu_id, caption)


def operator_art(folder):
    """Our buttons and icon, and a background of one colour."""
    shutil.copytree(os.path.join(desktop.ROOT, "resources", "buttons"), os.path.join(folder, "buttons"))
    shutil.copy(os.path.join(desktop.ROOT, "resources", "launcher.ico"), folder)
    rp.write_png(os.path.join(folder, "background.png"), 1039, 652,
                 lambda y: (bytes(COLOUR) + b"\xff" if y >= 10 else b"\0" * 4) * 1039)
    return folder


def main():
    build = os.path.dirname(sys.argv[1])
    base = "varnholt-" + rp.VERSION
    name, data = rp.built_twice(build, "linux")
    if name != base + "-linux-x86_64.tar.gz":
        desktop.fail("the package is named " + name)
    with desktop.Xvfb() as display:
        first_start(contents(data, base, "varnholt-launcher", "Varnholt登录器"), base,
                    "varnholt-launcher", "Varnholt登录器", display, False)
        art = operator_art(os.path.join(build, "package", "art"))
        branded = rp.release(os.path.join(build, "package", "a"), "linux", "--name", "测试游戏",
                             "--art", art)
        shutil.rmtree(art)
        base = "game-" + rp.VERSION
        t = contents(branded[base + "-linux-x86_64.tar.gz"], base, "game-launcher", "测试游戏登录器")
        first_start(t, base, "game-launcher", "测试游戏登录器", display, True)
    print("%s: %d bytes, the same from two builds; first starts passed" % (name, len(data)))


if __name__ == "__main__":
    main()
