#!/usr/bin/env python3
"""Appends the new launcher to a built upgrade program:

    python3 tools/pack-upgrade.py --program BUILT_UPGRADE --launcher LAUNCHER \\
        --version 1.01 -o OUT

OUT = the program, the launcher's bytes, the version (ASCII), and a 56-byte
trailer: b"UPGRADE1", the launcher's size (uint64 LE), the version's size
(uint32 LE), four zero bytes, SHA-256 of the launcher's bytes. OUT takes the
program's mode; the same inputs give the same bytes. The upgrade program
checks all of it before it changes anything (src/upgrader/Payload.cpp)."""
import argparse
import hashlib
import os
import re
import stat
import struct
import sys
import tempfile

# What the upgrade program accepts (Payload.cpp): it goes into launcher.ini.
VERSION = re.compile(r"[A-Za-z0-9._+-]{1,32}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--program", required=True, help="the built upgrade program")
    ap.add_argument("--launcher", required=True, help="the new launcher")
    ap.add_argument("--version", required=True, help="the new launcher's version, e.g. 1.01")
    ap.add_argument("-o", "--output", required=True)
    args = ap.parse_args()
    if not VERSION.fullmatch(args.version):
        sys.exit("pack-upgrade: version %r: 1 to 32 ASCII letters, digits, '.', '_', '+' or '-'"
                 % args.version)
    with open(args.program, "rb") as f:
        program = f.read()
    with open(args.launcher, "rb") as f:
        launcher = f.read()
    if program[-56:-48] == b"UPGRADE1":
        sys.exit("pack-upgrade: %s carries a launcher already" % args.program)
    if not launcher:
        sys.exit("pack-upgrade: %s is empty" % args.launcher)
    version = args.version.encode("ascii")
    trailer = (b"UPGRADE1" + struct.pack("<QI", len(launcher), len(version)) + bytes(4)
               + hashlib.sha256(launcher).digest())
    mode = stat.S_IMODE(os.stat(args.program).st_mode)
    # Written beside OUT and renamed over it: never a half-written program.
    out_dir = os.path.dirname(os.path.abspath(args.output))
    fd, temporary = tempfile.mkstemp(dir=out_dir, prefix=".pack-upgrade-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(program + launcher + version + trailer)
        os.chmod(temporary, mode)
        os.replace(temporary, args.output)
    except BaseException:
        os.unlink(temporary)
        raise


if __name__ == "__main__":
    main()
