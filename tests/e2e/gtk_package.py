"""The Linux package: the same tarball from two builds, its files, owners,
modes and times; unpacked and filled in, it shows its face and login page and
checks the version; its menu script installs an entry that starts it;
built with an operator's name and background, it shows both."""
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

COLOUR = (200, 30, 160)  # the operator's background picture


def menu(run, menu_id, caption):
    env = run.env(run.display)
    entry = os.path.join(env["XDG_DATA_HOME"], "applications", menu_id + ".desktop")
    icon = os.path.join(env["XDG_DATA_HOME"], "icons/hicolor/48x48/apps", menu_id + ".png")
    # A folder whose name is not UTF-8 cannot be named by an entry: refused, nothing written.
    bad = os.path.join(run.root.encode(), b"bad \xff")
    shutil.copytree(run.folder.encode(), bad)
    refused = subprocess.run([os.path.join(bad, b"install-menu.sh")], env=env, capture_output=True,
                             timeout=20)
    if refused.returncode == 0 or os.path.exists(entry) or "UTF-8" not in refused.stderr.decode():
        desktop.fail("install-menu.sh from a non-UTF-8 folder: %s" % refused)
    subprocess.run([run.folder + "/install-menu.sh"], env=env, check=True, timeout=20)
    check = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
    if check.returncode or check.stdout or not os.path.exists(icon):
        desktop.fail("menu entry %s: %s" % (entry, check.stdout))
    desktop.stop(run.proc)
    gio = desktop.spawn(["gio", "launch", entry], env=env, log=os.path.join(run.root, "gio.log"))
    try:
        pid = int(desktop.xdotool(run.display, "getwindowpid", desktop.wait_window(run.display, caption)))
        if os.readlink("/proc/%d/exe" % pid) != os.path.realpath(run.exe):
            desktop.fail("the menu entry started %s" % os.readlink("/proc/%d/exe" % pid))
        os.kill(pid, signal.SIGTERM)
        desktop.wait_for(lambda: not desktop.find_windows(run.display, caption), 10, "its end")
    finally:
        desktop.stop(gio)


def package(data, base, menu_id, caption, display, branded):
    t = tarfile.open(fileobj=io.BytesIO(data))
    want = [(base, 0o755)] + sorted((base + "/" + n, m) for n, m in (
        ("install-menu.sh", 0o755), ("launcher", 0o755), ("launcher.ini", 0o644),
        ("readme.txt", 0o644), (menu_id + ".desktop", 0o644), (menu_id + ".png", 0o644)))
    owners = {(m.uid, m.gid, m.mtime) for m in t}
    readme = t.extractfile(base + "/readme.txt").read().decode()
    entry = t.extractfile(base + "/%s.desktop" % menu_id).read().decode()
    if [(m.name, m.mode) for m in t] != want or owners != {(0, 0, rp.commit_time())} or \
            b".symtab" in t.extractfile(base + "/launcher").read() or "Name=%s\n" % caption not in entry \
            or any(s not in readme for s in (caption + " " + rp.VERSION, "apt install", "dnf install")):
        desktop.fail("tarball %s, owners %s, entry %s, readme:\n%s" % (t.getnames(), owners, entry, readme))
    root = desktop.scratch_dir()
    t.extractall(os.path.join(root, "新 文件夹"))
    try:
        with TestServer(pages=browser_site.PAGES) as srv, \
                GtkLauncher(os.path.join(root, "新 文件夹", base, "launcher"), in_place=True) as run:
            with open(run.ini, "wb") as f:
                f.write(rp.filled_template(t.extractfile(base + "/launcher.ini").read(), srv))
            run.start(display)
            x, y = run.geometry(run.wait_window("^%s$" % caption))[:2]
            browser_site.wait_login_page(run, desktop.wait_for(
                lambda: run.login_window(), 10, "the login window"))
            if branded and browser_site.pixel(display, x + 100, y + 300) != COLOUR:
                desktop.fail("the operator's background is not shown")
            desktop.wait_for(lambda: desktop.read_ini_value(run.ini, "log", "versionCheckLog")
                             == "load version config success", 20, "the version check")
            if not branded:
                menu(run, menu_id, "^%s$" % caption)
    finally:
        shutil.rmtree(root, ignore_errors=True)


def main():
    build, base = os.path.dirname(sys.argv[1]), "varnholt-" + rp.VERSION
    data = rp.built_twice(build, "linux", "linux-x86_64.tar.gz")
    art = os.path.join(build, "package", "art")
    shutil.rmtree(art, ignore_errors=True)
    shutil.copytree(os.path.join(desktop.ROOT, "resources"), art)
    subprocess.run(["convert", "-size", "1039x652", "xc:rgb%s" % (COLOUR,), "PNG32:" + art + "/background.png"],
                   check=True, timeout=60)
    with desktop.Xvfb() as display:
        package(data, base, "varnholt-launcher", "Varnholt登录器", display, False)
        # Built again in the second build folder, under a Chinese name (packages named "game").
        branded = rp.release(os.path.join(build, "package", "b"), "linux", "--name", "测试游戏", "--art", art)
        package(branded["game-%s-linux-x86_64.tar.gz" % rp.VERSION], "game-" + rp.VERSION, "game-launcher",
                "测试游戏登录器", display, True)
    print("gtk package: all checks passed")


if __name__ == "__main__":
    main()
