"""An operator's pictures given to the build (LAUNCHER_BRAND_DIR): a wrong one
stops the configuration with the file and the fault named, whatever else is
right; a good folder and name configure. One build folder for all cases, so
that only the first configuration looks at the compilers."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
from release_package import write_png  # noqa: E402

RES = os.path.join(desktop.ROOT, "resources")


def bmp(w, h, bits=24):
    stride = (w * bits // 8 + 3) & ~3
    return (struct.pack("<2sIHHIIiiHHIIiiII", b"BM", 54 + stride * h, 0, 0, 54, 40, w, h, 1, bits,
                        0, stride * h, 0, 0, 0, 0) + b"\x80" * stride * h)


def png(path, w, h, alpha=True):
    write_png(path, w, h, lambda y: (b"\x10\x20\x30\xff" if alpha else b"\x10\x20\x30") * w,
              6 if alpha else 2)


def cut(path, n):
    data = open(path, "rb").read()
    open(path, "wb").write(data[:-n])


# (what is done to a copy of our pictures, the file named, words of the fault)
CASES = [
    (lambda d: os.remove(d + "/background.png"), "background.png", "missing"),
    (lambda d: png(d + "/background.png", 1040, 652), "background.png", "1040 x 652 pixels"),
    (lambda d: png(d + "/background.png", 1039, 652, alpha=False), "background.png", "no transparency"),
    (lambda d: cut(d + "/background.png", 40), "background.png", "cut short"),
    (lambda d: shutil.copy(RES + "/launcher.ico", d + "/background.png"), "background.png", "not a PNG"),
    (lambda d: open(d + "/buttons/close.bmp", "wb").write(bmp(23, 23)), "buttons/close.bmp",
     "23 x 23 pixels, 26 x 26 wanted"),
    (lambda d: open(d + "/buttons/forum_hot.bmp", "wb").write(bmp(90, 34, 32)), "buttons/forum_hot.bmp",
     "32 bits per pixel"),
    (lambda d: cut(d + "/buttons/home.bmp", 3), "buttons/home.bmp", "cut short"),
    (lambda d: png(d + "/launcher.ico", 48, 48), "launcher.ico", "not an icon"),
    (lambda d: cut(d + "/launcher.ico", 100), "launcher.ico", "cut short"),
]


def configure(build, *options):
    r = subprocess.run(["cmake", "-S", desktop.ROOT, "-B", build, "-G", "Ninja",
                        "-DLAUNCHER_PLATFORM=headless"] + list(options),
                       capture_output=True, text=True, timeout=120)
    return r.returncode, r.stdout + r.stderr


def main():
    base = tempfile.mkdtemp(prefix="brand-art-")
    failures = []
    try:
        build = os.path.join(base, "build")
        for i, (spoil, name, words) in enumerate(CASES):
            art = os.path.join(base, "art %d" % i)
            shutil.copytree(RES, art, ignore=shutil.ignore_patterns("*.rc", "*.manifest", "*.layout"))
            spoil(art)
            rc, out = configure(build, "-DLAUNCHER_BRAND_DIR=" + art)
            line = "%s: " % os.path.join(art, name)
            if rc == 0 or not any(l.strip().startswith(line) and words in l for l in out.splitlines()):
                failures.append("%s (%s): status %d\n%s" % (name, words, rc, out[-800:]))
            others = [l for l in out.splitlines() if l.strip().startswith(art) and name not in l]
            if others:
                failures.append("%s: other files blamed: %s" % (name, others))
        rc, out = configure(build, "-DLAUNCHER_BRAND_DIR=" + os.path.join(base, "art 0"),
                            "-DLAUNCHER_BRAND_NAME=a\"b")
        if rc == 0 or "LAUNCHER_BRAND_NAME" not in out:
            failures.append("a name with a quote was taken:\n" + out[-800:])
        good = os.path.join(base, "good")
        shutil.copytree(RES, good)
        rc, out = configure(build, "-DLAUNCHER_BRAND_DIR=" + good, "-DLAUNCHER_BRAND_NAME=测试")
        if rc != 0 or "const char kGameName[] = \"测试\";" not in open(build + "/game_name.cpp").read():
            failures.append("our own pictures under another name:\n" + out[-800:])
    finally:
        shutil.rmtree(base, ignore_errors=True)
    for f in failures:
        print("FAIL: " + f)
    print("brand art: %d cases, %s" % (len(CASES) + 2, "%d failures" % len(failures) if failures else "all passed"))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
