"""The release packages under test: tools/release.sh run into folders of the
build tree, and the launcher.ini template filled in as an operator does."""
import os
import re
import subprocess
import zipfile

import desktop

VERSION = open(os.path.join(desktop.ROOT, "VERSION")).read().strip()
KEYS = {"common": ["version", "versionCheckUrl", "versionUpdateUrl"],
        "platform": ["loginUrl", "mainUrl", "homeUrl", "chargeUrl", "serviceUrl", "forumUrl"]}
SITE = "https://play.example.com/game"
# An operator's file (a byte order mark, blanks, a key's case) gives loginUrl; forumUrl the option, which wins.
ADDRESSES = b"\xef\xbb\xbf[platform]\r\n LoginUrl = https://play.example.com/?a=1&b=2\r\nforumUrl=x\r\n"


def site_options(folder):
    with open(os.path.join(folder, "addresses.ini"), "wb") as f:
        f.write(ADDRESSES)
    return ["--site", SITE + "/", "--addresses", f.name, "--forum-url", "https://bbs.example.com/"]


def release(folder, only, *options, build_root=None):
    """Builds in `folder` (or `build_root`), packs into its dist/; returns
    {file name: bytes} of dist/."""
    os.makedirs(folder, exist_ok=True)
    with open(folder + ".log", "wb") as log:
        rc = subprocess.run(["bash", os.path.join(desktop.ROOT, "tools", "release.sh"), "--only", only,
                             "--build-root", build_root or folder, "--dist", folder + "/dist"] + list(options),
                            stdin=subprocess.DEVNULL, stdout=log, stderr=log, timeout=900).returncode
    if rc != 0:
        desktop.fail("tools/release.sh ended with %d (see %s.log)" % (rc, folder))
    return {n: open(os.path.join(folder, "dist", n), "rb").read()
            for n in os.listdir(folder + "/dist") if n != "site"}


def built_twice(build_dir, only, suffix):
    """The usage; the package with site_options, the same bytes from the preset's own build folder
    (build/<preset>, built already) and from a second one, package/b, and its update folder."""
    a = release(build_dir + "/package/a", only, *site_options(build_dir), build_root=os.path.dirname(build_dir))
    b = release(build_dir + "/package/b", only, *site_options(build_dir))
    usage = subprocess.run(["bash", desktop.ROOT + "/tools/release.sh", "-h"], capture_output=True, timeout=10)
    name = "varnholt-%s-%s" % (VERSION, suffix)
    if a != b or sorted(a) != sorted([name, "SHA256SUMS"]) or usage.returncode or b"--site URL" not in usage.stdout:
        desktop.fail("two builds gave %s and %s" % (sorted(a), [n for n in b if a.get(n) != b[n]]))
    checked_site(build_dir + "/package/a/dist", only)
    print("%s: %d bytes, the same from two build folders" % (name, len(a[name])), flush=True)
    return a[name]


def checked_site(dist, build, signed=False):
    """SHA256SUMS, launcher.ini (site_options, CRLF only), the version file (signed over the version and
    the program?) and the upgrade program (ending in the packaged launcher, the version, a short trailer)."""
    site, name = "%s/site/update/%s/" % (dist, build), "upgrade.exe" if build == "windows" else "upgrade"
    package = os.path.join(dist, next(n for n in os.listdir(dist) if n.endswith(("zip", "gz"))))
    ini, launcher = (zipfile.ZipFile(package).read(n) if build == "windows" else subprocess.check_output(
        ["tar", "-xOzf", package, "--wildcards", "*/" + n]) for n in ("launcher.ini", "launcher" + name[7:]))
    program, version_file = (open(site + n, "rb").read() for n in (name, "upgrade.ini"))
    m = re.fullmatch(rb"\[common\]\r\nversion=%s\r\n(upgradeSignature=(\S+)\r\n)?" % VERSION.encode(), version_file)
    verified = subprocess.run(["bash", "-c", 'openssl dgst -sha256 -verify "$0" -signature <(base64 -d <<<"$1")',
                               desktop.ROOT + "/tests/support/upgrade_test_key.pub.pem", m and m[2] or ""],
                              input=b"version=%s\n" % VERSION.encode() + program, capture_output=True)
    sums = subprocess.run(["sha256sum", "-c", "--strict", "SHA256SUMS"], cwd=dist, capture_output=True)
    lines = ["loginUrl=https://play.example.com/?a=1&b=2", "mainUrl=", "forumUrl=https://bbs.example.com/",
             "versionCheckUrl=%s/update/%s/upgrade.ini" % (SITE, build),
             "versionUpdateUrl=%s/update/%s/%s" % (SITE, build, name)]
    trailer, mode = program[program.rfind(launcher) + len(launcher):], os.stat(site + name).st_mode & 0o777
    if sums.returncode or sums.stdout.count(b": OK\n") != 3 or not m or (not verified.returncode) != signed or \
            any(b"\n%s\r\n" % line.encode() not in ini for line in lines) or launcher not in program[64:] or \
            not ini.count(b"\r\n") == ini.count(b"\r") == ini.count(b"\n") or len(trailer) > 64 or \
            not trailer.startswith(VERSION.encode()) or mode != (0o755 if build == "linux" else 0o644):
        desktop.fail("%s: %s\n%s%r\n%r" % (dist, sums.stdout, ini.decode(), version_file, trailer))


def commit_time():
    return int(subprocess.check_output(["git", "-C", desktop.ROOT, "log", "-1", "--format=%ct"]))


def filled_template(data, server):
    """The template checked (header comments, then each section with every key
    after a comment giving an example, CRLF lines, the version from VERSION)
    and filled in with the server's version file, login page and game address."""
    text = data.decode("ascii")
    shape = r"(;.*\r\n)*" + "".join(r"\[%s\]\r\n" % section + "".join(
        r";.* Example: \S+\r\n%s=.*\r\n" % key for key in keys) for section, keys in KEYS.items())
    if not re.fullmatch(shape, text) or "\r\nversion=%s\r\n" % VERSION not in text:
        desktop.fail("the template:\n" + text)
    for key, path in (("versionCheckUrl", "/version/" + VERSION), ("loginUrl", "/login.html"),
                      ("mainUrl", "/game.html")):
        text = re.sub(r"(?m)^%s=[^\r]*" % key, key + "=" + server.url(path), text)
    return text.encode("ascii")
