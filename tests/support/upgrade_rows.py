"""The upgrade program's end-to-end rows, shared by gtk_ and
win32_upgrade_program.py; each build gives its launchers, a running launcher
that holds the folder lock (hold), the program's start, the answer to its
message, the player's log and paths as the program sees them (native)."""
import os
import shutil
import subprocess
import sys
import time

import desktop

PACKER = os.path.join(desktop.ROOT, "tools", "pack-upgrade.py")
TITLE = "^Varnholt升级$"
# No blank line: Wine's kernel32 drops them when it writes.
INI = ("; 登录器设置\r\n[common]\r\n; 版本由升级程序写入\r\nversion=1.00\r\n"
       "versionCheckUrl=http://127.0.0.1:9/update/upgrade.ini\r\n"
       "[platform]\r\nloginUrl=http://127.0.0.1:9/login.html\r\n").encode()
# name, seconds a launcher holds the lock, the 2 s build, a damaged payload,
# a folder whose path is longer than Windows' MAX_PATH, the player's log.
ROWS = [("waits for the launcher, then upgrades", 1.5, False, False, False, "upgraded to 1.01"),
        ("a launcher still runs", 60, True, False, False, "still runs after 2 s"),
        ("damaged payload", 0, False, True, False, "damaged payload, SHA-256 mismatch"),
        ("upgrades in a folder past 260 characters", 0, False, False, True, "upgraded to 1.01")]


def pack(program, launcher, out, damaged=False):
    with open(out + ".in", "wb") as f:
        f.write(launcher)
    subprocess.run([sys.executable, PACKER, "--program", program, "--launcher", out + ".in",
                    "--version", "1.01", "-o", out], check=True, timeout=60)
    os.remove(out + ".in")
    if damaged:  # a byte of the launcher
        data = bytearray(open(out, "rb").read())
        data[-(56 + 4 + 3)] ^= 0xFF
        open(out, "wb").write(data)


def read(path, default=b""):
    try:
        return open(path, "rb").read()
    except FileNotFoundError:
        return default


def same_folder(recorded, folder):
    """A recorded folder names `folder`: the same names, any case, where a
    short (8.3) name, made up by the system, may stand for a long one."""
    a, b = recorded.replace("/", "\\").split("\\"), folder.replace("/", "\\").split("\\")
    return len(a) == len(b) and all(x.lower() == y.lower() or "~" in x for x, y in zip(a, b))


def run_rows(build):
    for name, hold, short, damaged, deep, words in ROWS:
        upgraded = words.startswith("upgraded")
        root = desktop.scratch_dir("upgrade-program-")
        folder = os.path.join(root, *(["x" * 120, "y" * 120] if deep else []), "游戏 目录")
        launcher, ini = os.path.join(folder, build.name), os.path.join(folder, "launcher.ini")
        os.makedirs(os.path.join(folder, "update"))
        os.makedirs(os.path.join(root, "elsewhere"))
        open(launcher, "wb").write(build.old)
        os.chmod(launcher, 0o755)
        open(ini, "wb").write(INI)
        program = os.path.join(folder, "update", "upgrade" + os.path.splitext(build.name)[1])
        pack(build.program(short), build.new, program, damaged)
        logged = len(read(build.log))
        holder = build.hold(folder, hold) if hold else None
        started = time.monotonic()
        proc = build.start(program, os.path.join(root, "elsewhere"))
        try:
            if not upgraded:
                build.answer(proc)
            status = proc.wait(45)
            want = (0, build.new, INI.replace(b"=1.00", b"=1.01")) if upgraded else (1, build.old, INI)
            if (status, read(launcher), read(ini)) != want:
                desktop.fail("%s: status %s, launcher %s, launcher.ini %r" % (
                    name, status, {build.old: "old", build.new: "new"}.get(read(launcher)),
                    read(ini)))
            if upgraded and holder and holder.poll() is None:
                desktop.fail("%s: replaced while the launcher still ran" % name)
            if upgraded and build.mode and os.stat(launcher).st_mode & 0o777 != build.mode:
                desktop.fail("%s: the new launcher lost its mode" % name)
            record = os.path.join(folder, "started.txt")
            if upgraded:
                desktop.wait_for(lambda: os.path.exists(record), 10, "the new launcher")
                print("%.2f s from the start to the new launcher (%.1f s held by the old one)"
                      % (time.monotonic() - started, hold))
            lines = read(record).decode().split("\n")
            if (lines != [""] if not upgraded else
                    lines[1:] != ["0", ""] or not same_folder(lines[0], build.native(folder))):
                desktop.fail("%s: the new launcher recorded %r" % (name, read(record)))
            left = set(os.listdir(folder)) - {build.name, "launcher.ini", "update", "started.txt"}
            if left:
                desktop.fail("%s: left %r" % (name, left))
            added = read(build.log)[logged:].decode()
            if words not in added:
                desktop.fail("%s: the player's log got %r" % (name, added))
            print("%s: ok" % name, flush=True)
        finally:
            desktop.stop(proc)
            desktop.stop(holder)
            shutil.rmtree(root, ignore_errors=True)
