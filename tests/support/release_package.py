"""The release packages under test: tools/release.sh run into folders of the
build tree, and the launcher.ini template filled in as an operator does."""
import os
import re
import subprocess

import desktop

VERSION = open(os.path.join(desktop.ROOT, "VERSION")).read().strip()
KEYS = {"common": ["version", "versionCheckUrl", "versionUpdateUrl"],
        "platform": ["loginUrl", "mainUrl", "homeUrl", "chargeUrl", "serviceUrl", "forumUrl"]}


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
    return {n: open(os.path.join(folder, "dist", n), "rb").read() for n in os.listdir(folder + "/dist")}


def built_twice(build_dir, only, suffix):
    """The package, the same bytes from the preset's own build folder
    (build/<preset>, built already) and from a second one, package/b."""
    a = release(os.path.join(build_dir, "package", "a"), only, build_root=os.path.dirname(build_dir))
    b = release(os.path.join(build_dir, "package", "b"), only)
    name = "varnholt-%s-%s" % (VERSION, suffix)
    if a != b or sorted(a) != sorted([name, "SHA256SUMS"]):
        desktop.fail("two builds gave %s and %s" % (sorted(a), [n for n in b if a.get(n) != b[n]]))
    print("%s: %d bytes, the same from two build folders" % (name, len(a[name])), flush=True)
    return a[name]


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
