"""Services of the Windows adapter under Wine, through win32_probe.exe: the
executable's folder (also a drive's root), resources by id and type, text
conversion of private-profile values, the first-level folder creation and
the local time stamp."""
import datetime
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402
import win32_image  # noqa: E402

PROBE = os.environ.get("E2E_PROBE") or desktop.fail("E2E_PROBE is not set")


def probe(exe_win, out, commands, display):
    if os.path.exists(out):
        os.remove(out)
    code = wine_env.run_exe(exe_win, [wine_env.winpath(out)] + commands, display=display,
                            timeout=30, logname="probe.log")
    if code != 0 or not os.path.exists(out):
        desktop.fail("win32_probe.exe failed (exit %d)" % code)
    lines = open(out, "rb").read().decode("utf-8").splitlines()
    if len(lines) != len(commands):
        desktop.fail("probe answered %d of %d commands: %s" % (len(lines), len(commands), lines))
    return lines


def expect(got, want, what):
    if got != want:
        desktop.fail("%s: got %r, expected %r" % (what, got, want))


def chinese_folder(base, display):
    folder = os.path.join(base, "玩家 文件夹")
    exe = desktop.copy_exe(PROBE, folder)
    # A value in the file's own bytes: "é" in code page 1252.
    with open(os.path.join(folder, "probe.ini"), "wb") as f:
        f.write(b"[given]\r\nname=Caf\xe9 \"x\"\r\n")
    listed = win32_image.listed_resources()
    out = os.path.join(base, "probe-out.txt")
    commands = (["folder"] + ["res:%d:%s" % (i, t) for i, t, _ in listed] +
                ["iniread:given:name", "iniwrite:written:name:naïve", "iniread:written:name",
                 "mkdir:update\\upgrade.ini", "mkdir:update\\upgrade.ini", "now"])
    lines = probe(exe, out, commands, display)

    expect(lines[0], "folder " + wine_env.winpath(folder), "exeFolder")
    for (rid, rtype, name), line in zip(listed, lines[1:]):
        src = open(os.path.join(desktop.ROOT, "resources", name), "rb").read()
        expect(line, "res %d %s %d" % (rid, rtype, len(src)), "resource %d %s" % (rid, rtype))
        if open("%s.%d.%s" % (out, rid, rtype), "rb").read() != src:
            desktop.fail("resource(%d, %s) differs from resources/%s" % (rid, rtype, name))
    rest = lines[1 + len(listed):]
    # The ANSI bytes come back as UTF-8; quotes are the engine's business.
    expect(rest[0], "iniread Café \"x\"", "reading an ANSI value")
    expect(rest[1], "iniwrite 1", "writing")
    expect(rest[2], "iniread naïve", "reading back")
    written = open(os.path.join(folder, "probe.ini"), "rb").read()
    if b"name=na\xefve" not in written:
        desktop.fail("the value was not written in code page 1252: %r" % written)
    expect(rest[3:5], ["mkdir 1", "mkdir 1"], "ensureFolder")
    if not os.path.isdir(os.path.join(folder, "update")) or \
       os.path.exists(os.path.join(folder, "update", "upgrade.ini")):
        desktop.fail("ensureFolder must create the folder 'update' and nothing in it")
    stamp = re.match(r"^now \[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\]$", rest[5])
    if not stamp:
        desktop.fail("time stamp %r" % rest[5])
    skew = abs((datetime.datetime.strptime(stamp.group(1), "%Y-%m-%d %H:%M:%S") -
                datetime.datetime.now()).total_seconds())
    if skew > 120:
        desktop.fail("local time %s is %d s off" % (stamp.group(1), skew))


def drive_root(base, display):
    """From a drive's root the folder keeps its "\\" and files are joined
    to it without a second one."""
    root = os.path.join(base, "root")
    os.makedirs(root)
    desktop.copy_exe(PROBE, root)
    link = os.path.join(wine_env.prefix(), "dosdevices", "r:")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(root, link)
    try:
        lines = probe("R:\\win32_probe.exe", os.path.join(base, "root-out.txt"),
                      ["folder", "iniwrite:s:k:v"], display)
    finally:
        os.remove(link)
    expect(lines, ["folder R:\\", "iniwrite 1"], "drive root")
    if desktop.read_ini_value(os.path.join(root, "probe.ini"), "s", "k") != "v":
        desktop.fail("the root's probe.ini was not written")


def main():
    base = desktop.scratch_dir()
    try:
        with desktop.Xvfb() as display:
            chinese_folder(base, display)
            drive_root(base, display)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("win32 adapter: all cases passed")


if __name__ == "__main__":
    main()
