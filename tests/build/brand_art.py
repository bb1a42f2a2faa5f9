"""An operator's pictures (LAUNCHER_BRAND_DIR) through a real configuration:
each wrong one stops it naming that file (no other) and its fault; so does a
bad name. (gtk_package builds good ones under a Chinese name.)"""
import os
import shutil
import subprocess
import sys
import tempfile

RES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")


def drawn(size, kind="PNG32"):
    return subprocess.run(["convert", "-size", size, "xc:red", kind + ":-"], capture_output=True,
                          check=True).stdout


def ours(name):
    return open(os.path.join(RES, name), "rb").read()


# (file, its wrong bytes made from ours (None: no file), words of the fault)
CASES = [
    ("background.png", lambda b: None, "missing"),
    ("background.png", lambda b: drawn("1040x652"), "1040 x 652 pixels"),
    ("background.png", lambda b: drawn("1039x652", "PNG24"), "no transparency"),
    ("background.png", lambda b: b[:-40], "cut short"),
    ("background.png", lambda b: b[:200] + bytes(4) + b[204:], "damaged"),
    ("background.png", lambda b: ours("launcher.ico"), "not a PNG"),
    ("buttons/close.bmp", lambda b: ours("buttons/mini.bmp"), "23 x 23 pixels, 26 x 26 wanted"),
    ("buttons/forum_hot.bmp", lambda b: b[:28] + b"\x20" + b[29:], "32 bits per pixel"),
    ("buttons/home.bmp", lambda b: b[:-3], "cut short"),
    ("launcher.ico", lambda b: ours("background.png"), "not an icon"),
    ("launcher.ico", lambda b: b[:6] + b"\x20\x20" + b[8:], "a 32 x 32 image"),
    ("launcher.ico", lambda b: b[:-100], "cut short"),
]


def configure(build, *options):
    r = subprocess.run(["cmake", "-S", RES + "/..", "-B", build, "-G", "Ninja",
                        "-DLAUNCHER_PLATFORM=headless"] + list(options), capture_output=True, text=True,
                       timeout=120)
    return r.returncode, r.stdout + r.stderr


base, failures = tempfile.mkdtemp(prefix="brand-art-"), []
for i, (name, how, words) in enumerate(CASES):
    art = os.path.join(base, "art %d" % i)
    shutil.copytree(RES, art)
    data = how(ours(name))
    if data is None:
        os.remove(os.path.join(art, name))
    else:
        open(os.path.join(art, name), "wb").write(data)
    rc, out = configure(base + "/build", "-DLAUNCHER_BRAND_DIR=" + art)
    blamed = [line.strip() for line in out.splitlines() if line.strip().startswith(art)]
    if rc == 0 or len(blamed) != 1 or not blamed[0].startswith("%s/%s: " % (art, name)) or \
            words not in blamed[0]:
        failures.append("%s (%s): status %d, %s" % (name, words, rc, blamed or out[-600:]))
rc, out = configure(base + "/build", '-DLAUNCHER_BRAND_NAME=a"b')
if rc == 0 or "LAUNCHER_BRAND_NAME" not in out:
    failures.append("a name with a quote was taken:\n" + out[-600:])
shutil.rmtree(base, ignore_errors=True)
print("".join("FAIL: %s\n" % f for f in failures) + "brand art: %d failures" % len(failures))
sys.exit(1 if failures else 0)
