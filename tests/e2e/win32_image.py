"""launcher.exe as a file: a 32-bit GUI executable that imports system DLLs
only, with its version record, manifest, icon and every resource of
cmake/resources.cmake under the same id, type name and language."""
import os
import re
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
from win32_resources import listed_resources  # noqa: E402

OBJDUMP = os.environ.get("E2E_OBJDUMP") or "i686-w64-mingw32-objdump"

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "ole32.dll", "oleaut32.dll", "shell32.dll",
    "shlwapi.dll", "msvcrt.dll", "advapi32.dll", "comctl32.dll", "comdlg32.dll", "uxtheme.dll",
    "urlmon.dll", "wininet.dll", "winhttp.dll", "gdiplus.dll", "msimg32.dll", "version.dll", "ws2_32.dll",
    "imm32.dll", "winmm.dll", "ntdll.dll", "crypt32.dll", "oleacc.dll",
}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            desktop.fail("not a PE file")
        self.machine, nsect = struct.unpack_from("<HH", data, pe + 4)
        opt_size = struct.unpack_from("<H", data, pe + 20)[0]
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        # PE32: the data directories start at 96; resources are the third.
        self.rsrc_rva = struct.unpack_from("<I", data, opt + 96 + 2 * 8)[0]
        self.sections = []
        for i in range(nsect):
            s = opt + opt_size + 40 * i
            vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((va, max(vsize, rawsize), raw))

    def at(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        desktop.fail("RVA %#x outside every section" % rva)

    def resources(self):
        """{(type, name): bytes}; numeric ids as ints, names as text. The
        language of each is left in self.languages."""
        base = self.at(self.rsrc_rva)
        out = {}
        self.languages = {}

        def entries(off):
            named, ids = struct.unpack_from("<HH", self.data, base + off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + off + 16 + 8 * i)
                if name & 0x80000000:
                    p = base + (name & 0x7FFFFFFF)
                    n = struct.unpack_from("<H", self.data, p)[0]
                    name = self.data[p + 2:p + 2 + 2 * n].decode("utf-16-le")
                yield name, target

        for rtype, t in entries(0):
            for rname, n in entries(t & 0x7FFFFFFF):
                for lang, leaf in entries(n & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    out[(rtype, rname)] = self.data[self.at(rva):self.at(rva) + size]
                    self.languages.setdefault((rtype, rname), []).append(lang)
        return out


def version_strings(blob):
    """VS_VERSIONINFO: (fixed file info words, {key: value} of the string
    tables)."""
    strings = {}

    def node(off, end, depth):
        length, value_len, is_text = struct.unpack_from("<HHH", blob, off)
        p = off + 6
        key_end = p
        while blob[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = blob[p:key_end].decode("utf-16-le")
        p = (key_end + 2 + 3) & ~3
        if depth == 3 and is_text:
            strings[key] = blob[p:p + 2 * value_len].decode("utf-16-le").rstrip("\0")
        value_bytes = 2 * value_len if is_text else value_len
        child = (p + value_bytes + 3) & ~3
        while child < off + length:
            clen = struct.unpack_from("<H", blob, child)[0]
            if clen == 0:
                break
            node(child, off + length, depth + 1)
            child = (child + clen + 3) & ~3
        return key

    if node(0, len(blob), 0) != "VS_VERSION_INFO":
        desktop.fail("the version resource is not a VS_VERSION_INFO")
    fixed = blob.find(struct.pack("<I", 0xFEEF04BD))
    words = struct.unpack_from("<IIIIII", blob, fixed)
    return words, strings


def icon_file(res, group_id):
    """The .ico file an icon group was compiled from."""
    group = res[(RT_GROUP_ICON, group_id)]
    count = struct.unpack_from("<H", group, 4)[0]
    head, images, ids = group[:6], b"", []
    offset = 6 + 16 * count
    for i in range(count):
        e = group[6 + 14 * i:6 + 14 * (i + 1)]
        image_id = struct.unpack_from("<H", e, 12)[0]
        ids.append(image_id)
        image = res[(RT_ICON, image_id)]
        head += e[:12] + struct.pack("<I", offset)
        images += image
        offset += len(image)
    return head + images, ids


def main():
    launcher = os.environ.get("E2E_LAUNCHER") or desktop.fail("E2E_LAUNCHER is not set")
    data = open(launcher, "rb").read()
    pe = Pe(data)
    if (pe.machine, pe.magic, pe.subsystem) != (0x14C, 0x10B, 2):
        desktop.fail("machine %#x magic %#x subsystem %d: not a PE32 i386 GUI program"
                     % (pe.machine, pe.magic, pe.subsystem))

    dump = os.path.join(os.path.dirname(launcher), "e2e", "objdump-launcher.txt")
    os.makedirs(os.path.dirname(dump), exist_ok=True)
    with open(dump, "w") as out:
        subprocess.run([OBJDUMP, "-p", launcher], stdout=out, stderr=subprocess.STDOUT,
                       check=True, timeout=60)
    dlls = [d.lower() for d in re.findall(r"DLL Name: (\S+)", open(dump).read())]
    if not dlls:
        desktop.fail("no imports found in %s" % dump)
    foreign = [d for d in dlls if d not in SYSTEM_DLLS]
    if foreign:
        desktop.fail("imports beyond the system DLLs: %s" % ", ".join(foreign))

    res = pe.resources()
    words, strings = version_strings(res[(RT_VERSION, 1)])
    file_version = (words[2] >> 16, words[2] & 0xFFFF, words[3] >> 16, words[3] & 0xFFFF)
    product_version = (words[4] >> 16, words[4] & 0xFFFF, words[5] >> 16, words[5] & 0xFFFF)
    version = open(os.path.join(desktop.ROOT, "VERSION")).read().strip()  # "1.00": 1, 0, 0, 0
    numbers = tuple(int(part) for part in version.split(".")) + (0, 0)
    if file_version != numbers or product_version != numbers:
        desktop.fail("binary versions %s / %s" % (file_version, product_version))
    want = {"FileVersion": version, "ProductVersion": version, "InternalName": "launcher",
            "OriginalFilename": "launcher.exe"}
    for key, value in want.items():
        if strings.get(key) != value:
            desktop.fail("version string %s is %r, expected %r" % (key, strings.get(key), value))
    for key in ("CompanyName", "FileDescription", "ProductName"):
        if not strings.get(key):
            desktop.fail("version string %s is empty" % key)

    manifest = res[(RT_MANIFEST, 1)].decode("utf-8")
    if not re.search(r'name="Microsoft\.Windows\.Common-Controls"[^>]*version="6\.0\.0\.0"', manifest):
        desktop.fail("the manifest does not ask for Common Controls 6")
    if re.search(r"dpiAware", manifest, re.I):
        desktop.fail("the manifest declares DPI awareness")

    listed = listed_resources()
    if not listed:
        desktop.fail("no entries read from cmake/resources.cmake")
    for rid, rtype, name, lang in listed:
        src = open(os.path.join(desktop.ROOT, "resources", name), "rb").read()
        key = (RT_GROUP_ICON, rid) if rtype.upper() == "ICON" else (rtype.upper(), rid)
        if rtype.upper() == "ICON":
            got, ids = icon_file(res, rid)
            print("icon group %d: image ids %s" % (rid, ids))
        else:
            got = res.get(key)
        if got != src:
            desktop.fail("resource %d %s differs from resources/%s" % (rid, rtype, name))
        if pe.languages[key] != [lang]:
            desktop.fail("resource %d %s has the languages %s, expected [%#x]"
                         % (rid, rtype, [hex(x) for x in pe.languages[key]], lang))
    print("%d listed resources match, languages included" % len(listed))

    print("launcher.exe: %d bytes, imports %s" % (len(data), ", ".join(dlls)))
    print("version strings: %s" % strings)
    print("win32 image: all checks passed")


if __name__ == "__main__":
    main()
