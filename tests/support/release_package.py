"""The release packages under test: tools/release.sh run into folders of the
build tree (two builds in different folders must give the same bytes), the
launcher.ini template an operator fills in, and the packages' own times."""
import os
import re
import struct
import subprocess
import zlib

import desktop

VERSION = open(os.path.join(desktop.ROOT, "VERSION")).read().strip()
KEYS = {"common": ["version", "versionCheckUrl", "versionUpdateUrl"],
        "platform": ["loginUrl", "mainUrl", "homeUrl", "chargeUrl", "serviceUrl", "forumUrl"]}


def release(folder, only, *options):
    """Runs the release into `folder` (builds in it, packages in its dist/);
    returns {file name: bytes} of dist/."""
    dist, log = os.path.join(folder, "dist"), folder + ".log"
    os.makedirs(folder, exist_ok=True)
    with open(log, "wb") as out:
        rc = subprocess.run(["bash", os.path.join(desktop.ROOT, "tools", "release.sh"), "--only", only,
                             "--build-root", folder, "--dist", dist] + list(options),
                            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                            timeout=900).returncode
    print(open(log, encoding="utf-8", errors="replace").read()[-600:], flush=True)
    if rc != 0:
        desktop.fail("tools/release.sh ended with %d (see %s)" % (rc, log))
    return {n: open(os.path.join(dist, n), "rb").read() for n in sorted(os.listdir(dist))}


def built_twice(build_dir, only):
    """The package of two releases in two build folders, which must be the
    same bytes, and its name."""
    first = release(os.path.join(build_dir, "package", "a"), only)
    second = release(os.path.join(build_dir, "package", "b"), only)
    if first != second:
        desktop.fail("two builds differ: %s" % [n for n in first if first[n] != second.get(n)])
    names = [n for n in first if n != "SHA256SUMS"]
    if len(names) != 1 or not names[0].startswith("varnholt-%s-" % VERSION):
        desktop.fail("dist/ holds %s" % sorted(first))
    return names[0], first[names[0]]


def commit_time():
    return int(subprocess.run(["git", "-C", desktop.ROOT, "log", "-1", "--format=%ct"],
                              capture_output=True, text=True, check=True).stdout)


def filled_template(data, urls):
    """The template checked (CRLF lines, every key in its section after a
    comment with an example address, the version from VERSION) and filled
    in with `urls` ({key: address}) as an operator does."""
    text, section, comment, seen = data.decode("ascii"), None, None, {}
    if "\n" in text.replace("\r\n", ""):
        desktop.fail("the template has line ends other than CRLF")
    lines = text.split("\r\n")
    for i, line in enumerate(lines):
        m = re.match(r"\[(\w+)\]$|(\w+)=(.*)$", line)
        if line.startswith(";") or not line:
            comment = line
        elif m and m.group(1):
            section = m.group(1)
        elif m:
            key = m.group(2)
            if not re.search(r"Example: (https?://\S+|%s)$" % re.escape(VERSION), comment or ""):
                desktop.fail("%s has no comment with an example above it" % key)
            seen.setdefault(section, []).append(key)
            lines[i] = "%s=%s" % (key, urls.get(key, m.group(3)))
            comment = None
        else:
            desktop.fail("template line %r" % line)
    if seen != KEYS or "version=%s" % VERSION not in lines:
        desktop.fail("the template's keys %s, version %s" % (seen, VERSION))
    return "\r\n".join(lines).encode("ascii")


def write_png(path, width, height, row, colour_type=6):
    """An 8-bit PNG whose row y is row(y): RGBA (colour type 6) or RGB (2)."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + row(y) for y in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
