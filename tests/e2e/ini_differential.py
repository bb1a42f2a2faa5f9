"""kernel32's private-profile functions (under Wine) against our own engine
(src/framework/linux/profile.cpp): one corpus of INI files and one list of reads
and writes (tests/support/ini_corpus), run through both; the answers must
agree, apart from the differences listed there with kernel32's answer.

Writes are compared by reading back: kernel32 rewrites the whole file in its
own layout, while our engine keeps every other line byte for byte."""
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402

CORPUS = os.path.join(desktop.ROOT, "tests", "support", "ini_corpus")
INIDUMP = os.environ.get("E2E_INIDUMP") or desktop.fail("E2E_INIDUMP is not set")


def unescape(text):
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
            out += {"s": b" ", "t": b"\t", "r": b"\r", "n": b"\n", "\\": b"\\"}[n]
            i += 2
            continue
        out += c.encode("utf-8")
        i += 1
    return bytes(out)


def load_cases():
    cases = []
    path = os.path.join(CORPUS, "cases.txt")
    for n, raw in enumerate(open(path, encoding="utf-8"), 1):
        line = raw.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        fields = [f.strip() for f in line.split("|")]
        op = fields[0]
        arity = {"R": 5, "W": 5, "E": 2}[op]
        args = [unescape(f) for f in fields[1:arity]]
        opts = {}
        for f in fields[arity:]:
            name, _, value = f.partition("=")
            opts[name] = value
        cases.append({"line": n, "text": line, "op": op, "args": args, "opts": opts})
    return cases


def script(cases):
    def hx(b):
        return b.hex() if b else "."
    return "".join(" ".join([c["op"]] + [hx(a) for a in c["args"]]) + "\n" for c in cases)


def answer(line):
    """The value (bytes) of a read, or the flag of a write/exists."""
    parts = line.split(" ")
    if parts[0] == "R":
        value = b"" if parts[2] == "." else bytes.fromhex(parts[2])
        if int(parts[1]) != len(value):
            desktop.fail("count %s does not match the value's %d bytes" % (parts[1], len(value)))
        return value
    return parts[1].encode()


def native_twin():
    """inidump_native, built from our engine with the host compiler unless
    the build already has it."""
    out = os.path.join(wine_env.state_dir(), "inidump_native")
    sources = [os.path.join(desktop.ROOT, p) for p in
               ("tests/support/inidump_native.cpp", "tests/support/inidump_script.h",
                "src/framework/linux/profile.cpp", "src/framework/linux/profile.h",
                "src/framework/linux/profile_file.cpp", "src/framework/linux/profile_lines.h",
                "src/framework/linux/replacement_file.cpp", "src/framework/linux/replacement_file.h")]
    newest = max(map(os.path.getmtime, sources))
    # The headless build's own, when it is up to date.
    for built in (os.environ.get("E2E_INIDUMP_NATIVE"),
                  os.path.join(desktop.ROOT, "build", "headless", "inidump_native")):
        if built and os.path.exists(built) and os.path.getmtime(built) >= newest:
            return built
    if not os.path.exists(out) or os.path.getmtime(out) < newest:
        with open(out + ".log", "w") as log:
            r = subprocess.run(["g++", "-std=c++20", "-O1", "-I", os.path.join(desktop.ROOT, "src"),
                                "-o", out] + [p for p in sources if p.endswith(".cpp")],
                               stdout=log, stderr=subprocess.STDOUT, timeout=180)
        if r.returncode != 0:
            desktop.fail("building inidump_native failed (see %s.log)" % out)
    return out


def main():
    cases = load_cases()
    base = desktop.scratch_dir("launcher-ini-")
    try:
        dirs = {}
        for side in ("wine", "native"):
            d = os.path.join(base, side)
            shutil.copytree(CORPUS, d, ignore=shutil.ignore_patterns("cases.txt", ".*"))
            dirs[side] = d
        with open(os.path.join(base, "script.txt"), "w") as f:
            f.write(script(cases))

        code = wine_env.run_exe(INIDUMP, [wine_env.winpath(dirs["wine"]),
                                          wine_env.winpath(os.path.join(base, "script.txt")),
                                          wine_env.winpath(os.path.join(base, "wine.txt"))],
                                timeout=60, logname="inidump.log")
        if code != 0:
            desktop.fail("inidump.exe failed with %d" % code)
        r = subprocess.run([native_twin(), dirs["native"], os.path.join(base, "script.txt"),
                            os.path.join(base, "native.txt")], timeout=60)
        if r.returncode != 0:
            desktop.fail("inidump_native failed with %d" % r.returncode)

        wine = open(os.path.join(base, "wine.txt")).read().splitlines()
        native = open(os.path.join(base, "native.txt")).read().splitlines()
        if len(wine) != len(cases) or len(native) != len(cases):
            desktop.fail("answers: %d from kernel32, %d from ours, for %d cases"
                         % (len(wine), len(native), len(cases)))

        problems, known = [], 0
        for case, w_line, n_line in zip(cases, wine, native):
            w, n = answer(w_line), answer(n_line)
            opts = case["opts"]
            where = "cases.txt:%d  %s" % (case["line"], re.sub(r"\s+", " ", case["text"]))
            if "wine" in opts:
                if w != unescape(opts["wine"]):
                    problems.append("%s\n    kernel32 now answers %r, listed as %r" % (where, w, opts["wine"]))
                known += 1
                print("known difference: %s\n    kernel32 %r, ours %r: %s" % (where, w, n, opts.get("why", "")))
                continue
            if w != n:
                problems.append("%s\n    kernel32 %r, ours %r" % (where, w, n))
                continue
            if "want" in opts:
                want = unescape(opts["want"]) if case["op"] == "R" else opts["want"].encode()
                if w != want:
                    problems.append("%s\n    both answer %r, expected %r" % (where, w, want))
            if "len" in opts and len(w) != int(opts["len"]):
                problems.append("%s\n    both give %d bytes, expected %s" % (where, len(w), opts["len"]))
        if problems:
            desktop.fail("%d of %d cases:\n  %s" % (len(problems), len(cases), "\n  ".join(problems)))
        print("ini differential: %d cases agree (%d known differences)" % (len(cases) - known, known))
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    main()
