"""Services of the Windows adapter under Wine, through win32_probe.exe: the
executable's folder (also a drive's root), resources by id and type, text
conversion of private-profile values, the first-level folder creation, the
local time stamp, windows (frame, exact client size, centring, states, the
state set while hidden), starting a program and opening an address."""
import datetime
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402
from win32_resources import listed_resources  # noqa: E402

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
    listed = listed_resources()
    out = os.path.join(base, "probe-out.txt")
    commands = (["folder"] + ["res:%d:%s" % (i, t) for i, t, _, _ in listed] +
                ["iniread:given:name", "iniwrite:written:name:naïve", "iniread:written:name",
                 "mkdir:update\\upgrade.ini", "mkdir:update\\upgrade.ini", "now"])
    lines = probe(exe, out, commands, display)

    expect(lines[0], "folder " + wine_env.winpath(folder), "exeFolder")
    for (rid, rtype, name, _), line in zip(listed, lines[1:]):
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


def report(line):
    """{step: {field: value}} of a "window" answer."""
    steps = {}
    for part in line[len("window "):].split(" | "):
        name, _, fields = part.partition(" ")
        steps[name] = dict(f.split("=", 1) for f in fields.split(" ") if "=" in f)
    return steps


def windows(base, display):
    folder = os.path.join(base, "windows")
    exe = desktop.copy_exe(PROBE, folder)
    sizable, plain = probe(exe, os.path.join(base, "windows-out.txt"),
                           ["window:sizable:400:300:2", "window:none:400:300:0"], display)
    s, p = report(sizable), report(plain)
    for steps in (s, p):
        for step, f in steps.items():
            expect((f["caption"], f["loads"], f["toolwindow"]), ("探针", "1", "1"),
                   "%s: caption, loads, no taskbar button" % step)
    # Designed maximised: it opens maximised, restores to the exact client
    # size, centred on the work area.
    expect((s["shown"]["state"], s["shown"]["visible"]), ("2", "1"), "maximised start")
    if int(s["shown"]["client"].split("x")[0]) < 1500:
        desktop.fail("a maximised window of client %s" % s["shown"]["client"])
    expect(s["restored"]["client"], "400x300", "restored client size")
    ow, oh = map(int, s["restored"]["outer"].split("x"))
    if ow <= 400 or oh <= 300:
        desktop.fail("a sizable window without a frame: outer %dx%d" % (ow, oh))
    expect(s["restored"]["at"], "%d,%d" % ((1600 - ow) // 2, (1000 - oh) // 2), "centred")
    # One resize for the load, one for each change of state.
    expect([s[k]["resizes"] for k in ("shown", "restored", "hidden", "reshown")],
           ["2", "3", "3", "4"], "resize events")
    # A state set while hidden does not show the window; the next show
    # brings it in that state.
    expect((s["hidden"]["state"], s["hidden"]["visible"]), ("1", "0"), "minimised while hidden")
    expect((s["reshown"]["state"], s["reshown"]["visible"]), ("1", "1"), "shown minimised")
    # Borderless: the client area is the whole window.
    expect((p["shown"]["client"], p["shown"]["outer"], p["shown"]["at"]),
           ("400x300", "400x300", "600,350"), "borderless window")
    expect(p["shown"]["resizes"], "1", "a borderless load's resize events")


def processes_and_addresses(base, display):
    """startProcess runs a program by its quoted path (blank and Chinese
    characters in it) without waiting; openUrl hands the address to the
    system's browser unchanged."""
    folder = os.path.join(base, "启动 folder")
    exe = desktop.copy_exe(PROBE, folder)
    child_out = os.path.join(base, "child-out.txt")
    record = os.path.join(base, "browser.txt")
    os.environ.update(wine_env.record_default_browser(record, display))
    address = "http://127.0.0.1:1/page?a=1&b=中文"
    lines = probe(exe, os.path.join(base, "run-out.txt"),
                  ['run:"%s" %s folder' % (wine_env.winpath(exe), wine_env.winpath(child_out)),
                   "url:" + address], display)
    expect(lines, ["run", "url"], "run and url")
    desktop.wait_for(lambda: os.path.exists(child_out) and open(child_out, "rb").read(), 20,
                     "the started program's answer")
    expect(open(child_out, "rb").read().decode("utf-8").strip(), "folder " + wine_env.winpath(folder),
           "the started program")
    desktop.wait_for(lambda: os.path.exists(record) and address in open(record, encoding="utf-8").read(),
                     20, "the browser to get %s" % address)


def main():
    base = desktop.scratch_dir()
    try:
        with desktop.Xvfb() as display:
            chinese_folder(base, display)
            drive_root(base, display)
            windows(base, display)
            processes_and_addresses(base, display)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("win32 adapter: all cases passed")


if __name__ == "__main__":
    main()
