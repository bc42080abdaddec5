#!/usr/bin/env python3
"""Static checks of VelanoricUpdate.exe, read straight from the file.

  pe_check.py --arch i686|x86_64 --check headers|resources EXE

headers:   machine and format, GUI subsystem, ASLR (dynamic base with a
           relocation directory), DEP, high-entropy ASLR on x86_64, no
           section both writable and executable, imports only from system
           DLLs.
resources: the update dialog template field by field, the version block and
           the manifest.

Prints what it saw and one line per failed check; exit code 1 on any.
"""

import argparse
import struct
import sys
import xml.etree.ElementTree as ET

# ---- Expected values ------------------------------------------------------

APP_TITLE = "Velanoric アップデート Ver 1.01"

WS_POPUP = 0x80000000
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_GROUP = 0x00020000
WS_TABSTOP = 0x00010000
DS_SETFONT = 0x40
DS_MODALFRAME = 0x80
DS_CENTER = 0x800
BS_PUSHBUTTON = 0x0
BS_DEFPUSHBUTTON = 0x1
BS_GROUPBOX = 0x7
SS_LEFT = 0x0
SS_RIGHT = 0x2

BUTTON = 0x0080
STATIC = 0x0082
NO_ID = -1

DIALOG_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT

CHILD = WS_CHILD | WS_VISIBLE
PUSH_DEFAULT = CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON
PUSH = CHILD | WS_TABSTOP | BS_PUSHBUTTON
TEXT_LEFT = CHILD | WS_GROUP | SS_LEFT
TEXT_RIGHT = CHILD | WS_GROUP | SS_RIGHT
GROUP_BOX = CHILD | BS_GROUPBOX

# id, class, text, (x, y, cx, cy), style: in template order.
CONTROLS = [
    (1, BUTTON, "適用", (75, 143, 50, 14), PUSH_DEFAULT),
    (2, BUTTON, "終了", (138, 143, 50, 14), PUSH),
    (NO_ID, STATIC, "現在のバージョン", (12, 14, 71, 9), TEXT_LEFT),
    (1000, STATIC, "-----", (123, 13, 60, 9), TEXT_RIGHT),
    (NO_ID, STATIC, "『Velanoric』製品版をVer1.01にアップデートします。", (10, 71, 170, 19), TEXT_LEFT),
    (NO_ID, STATIC, "※このアップデートを行うとセーブデータは削除されます。", (9, 92, 175, 29), TEXT_LEFT),
    (NO_ID, BUTTON, "", (7, 62, 181, 66), GROUP_BOX),
    (NO_ID, BUTTON, "", (7, 5, 181, 22), GROUP_BOX),
    (NO_ID, STATIC, "インストール先", (11, 34, 71, 9), TEXT_LEFT),
    (1001, STATIC, "Static", (18, 49, 164, 9), TEXT_RIGHT),
    (NO_ID, BUTTON, "", (6, 25, 181, 39), GROUP_BOX),
]

VERSION_STRINGS = {
    "FileVersion": "1, 0, 1, 0",
    "ProductVersion": "1, 3, 0, 0",
    "FileDescription": "Update アプリケーション",
    "Comments": APP_TITLE,
}

# DLLs every Windows system carries in its system folder. Anything else
# (a MinGW runtime DLL above all) would be looked up beside the program.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll", "ntdll.dll",
               "gdi32.dll"}

RT_DIALOG = 5
RT_VERSION = 16
RT_MANIFEST = 24
LANG_JA = 0x0411
LANG_EN_US = 0x0409
IDD_UPDATE = 101

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
DLL_HIGH_ENTROPY_VA = 0x0020
DLL_DYNAMIC_BASE = 0x0040
DLL_NX_COMPAT = 0x0100
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
SUBSYSTEM_WINDOWS_GUI = 2

ARCHES = {
    "i686": {"machine": 0x014C, "magic": 0x10B, "format": "PE32"},
    "x86_64": {"machine": 0x8664, "magic": 0x20B, "format": "PE32+"},
}


class Checker:
    def __init__(self):
        self.failures = []

    def equal(self, what, seen, expected):
        if seen != expected:
            self.failures.append(f"{what}: {fmt(seen)}, expected {fmt(expected)}")

    def true(self, what, condition):
        if not condition:
            self.failures.append(what)


def fmt(v):
    if isinstance(v, int) and not isinstance(v, bool):
        return f"0x{v:X}" if v > 9 or v < 0 else str(v)
    return repr(v)


# ---- PE file --------------------------------------------------------------


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, nsections, _, _, _, opt_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        if self.magic == 0x10B:
            self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
            ndirs = struct.unpack_from("<I", data, opt + 92)[0]
            dirs = opt + 96
        elif self.magic == 0x20B:
            self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
            ndirs = struct.unpack_from("<I", data, opt + 108)[0]
            dirs = opt + 112
        else:
            raise ValueError(f"unknown optional header magic 0x{self.magic:X}")
        self.directories = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(ndirs)]
        self.sections = []
        sec = opt + opt_size
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sec + 40 * i)
            flags = struct.unpack_from("<I", data, sec + 40 * i + 36)[0]
            self.sections.append({"name": name.rstrip(b"\0").decode("latin-1"), "va": va,
                                  "vsize": vsize, "rawsize": rawsize, "rawptr": rawptr,
                                  "flags": flags})

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for s in self.sections:
            if s["va"] <= rva < s["va"] + max(s["vsize"], s["rawsize"]):
                return s["rawptr"] + rva - s["va"]
        raise ValueError(f"RVA 0x{rva:X} lies in no section")

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def imports(self):
        """Names of the DLLs in the import and the delay-import tables."""
        names = []
        rva, size = self.directory(1)
        if rva and size:
            at = self.offset(rva)
            while True:
                lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
                if not (lookup or name or thunks):
                    break
                names.append(self.cstring(name))
                at += 20
        rva, size = self.directory(13)
        if rva and size:
            at = self.offset(rva)
            while True:
                fields = struct.unpack_from("<8I", self.data, at)
                if not any(fields):
                    break
                names.append(self.cstring(fields[1]))
                at += 32
        return names

    def resources(self):
        """{(type, name, language): bytes} from the resource directory."""
        rva, size = self.directory(2)
        found = {}
        if not (rva and size):
            return found
        base = self.offset(rva)

        def entries(at):
            named, ids = struct.unpack_from("<HH", self.data, base + at + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)
                if key & 0x80000000:
                    n_at = base + (key & 0x7FFFFFFF)
                    n = struct.unpack_from("<H", self.data, n_at)[0]
                    key = self.data[n_at + 2:n_at + 2 + 2 * n].decode("utf-16-le")
                yield key, target

        for rtype, t in entries(0):
            for rname, n in entries(t & 0x7FFFFFFF):
                for lang, leaf in entries(n & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        raise ValueError("resource tree deeper than three levels")
                    drva, dsize = struct.unpack_from("<II", self.data, base + leaf)
                    at = self.offset(drva)
                    found[(rtype, rname, lang)] = self.data[at:at + dsize]
        return found


# ---- Header checks ----------------------------------------------------------


def check_headers(pe, arch, c):
    want = ARCHES[arch]
    c.equal("machine", pe.machine, want["machine"])
    c.equal("optional header magic (" + want["format"] + ")", pe.magic, want["magic"])
    c.equal("subsystem (GUI)", pe.subsystem, SUBSYSTEM_WINDOWS_GUI)

    dll = pe.dll_characteristics
    c.true("ASLR: DYNAMIC_BASE not set", dll & DLL_DYNAMIC_BASE)
    c.true("ASLR: relocations stripped", not pe.characteristics & IMAGE_FILE_RELOCS_STRIPPED)
    reloc_rva, reloc_size = pe.directory(5)
    c.true("ASLR: no relocation directory", reloc_rva != 0 and reloc_size != 0)
    c.true("DEP: NX_COMPAT not set", dll & DLL_NX_COMPAT)
    if arch == "x86_64":
        c.true("HIGH_ENTROPY_VA not set", dll & DLL_HIGH_ENTROPY_VA)

    for s in pe.sections:
        c.true(f"section {s['name']} is both writable and executable",
               not (s["flags"] & SCN_MEM_WRITE and s["flags"] & SCN_MEM_EXECUTE))

    dlls = pe.imports()
    c.true("no imports at all", dlls)
    for name in dlls:
        c.true(f"imports from {name}, not a system DLL", name.lower() in SYSTEM_DLLS)

    print(f"  machine 0x{pe.machine:04X}, {'PE32+' if pe.magic == 0x20B else 'PE32'}, "
          f"subsystem {pe.subsystem}")
    flags = [n for bit, n in ((DLL_DYNAMIC_BASE, "DYNAMIC_BASE"), (DLL_NX_COMPAT, "NX_COMPAT"),
                              (DLL_HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA")) if dll & bit]
    print(f"  DllCharacteristics 0x{dll:04X} ({' '.join(flags) or 'none'}), "
          f"relocations {reloc_size} bytes")
    print("  sections: " + ", ".join(
        s["name"] + ":" + ("R" if s["flags"] & 0x40000000 else "-") +
        ("W" if s["flags"] & SCN_MEM_WRITE else "-") +
        ("X" if s["flags"] & SCN_MEM_EXECUTE else "-") for s in pe.sections))
    print("  imports: " + ", ".join(dlls))


# ---- Resource checks --------------------------------------------------------


class Reader:
    def __init__(self, data, at=0):
        self.data = data
        self.at = at

    def take(self, fmt_):
        v = struct.unpack_from("<" + fmt_, self.data, self.at)
        self.at += struct.calcsize("<" + fmt_)
        return v if len(v) > 1 else v[0]

    def align(self, n=4):
        self.at = (self.at + n - 1) & ~(n - 1)

    def wstring(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        s = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return s

    def sz_or_ord(self):
        """A number (0xFFFF then the ordinal) or a string; 0 alone is none."""
        first = struct.unpack_from("<H", self.data, self.at)[0]
        if first == 0xFFFF:
            self.at += 2
            return ("ord", self.take("H"))
        if first == 0:
            self.at += 2
            return ("none", None)
        return ("str", self.wstring())


def check_dialog(data, c):
    r = Reader(data)
    dlg_ver, signature = r.take("HH")
    c.equal("dialog dlgVer", dlg_ver, 1)
    c.equal("dialog signature (extended template)", signature, 0xFFFF)
    if (dlg_ver, signature) != (1, 0xFFFF):
        return
    help_id, ex_style, style, count, x, y, cx, cy = r.take("IIIHhhhh")
    c.equal("dialog helpID", help_id, 0)
    c.equal("dialog exStyle", ex_style, 0)
    c.equal("dialog style", style, DIALOG_STYLE)
    c.equal("dialog cDlgItems", count, len(CONTROLS))
    c.equal("dialog size", (cx, cy), (195, 164))
    c.equal("dialog menu", r.sz_or_ord(), ("none", None))
    c.equal("dialog class", r.sz_or_ord(), ("none", None))
    c.equal("dialog title", r.wstring(), APP_TITLE)
    if style & DS_SETFONT:
        point, weight, italic, charset = r.take("HHBB")
        c.equal("dialog font size", point, 9)
        c.equal("dialog font weight", weight, 400)  # FW_NORMAL
        c.equal("dialog font italic", italic, 0)
        c.equal("dialog font charset", charset, 0)
        c.equal("dialog typeface", r.wstring(), "ＭＳ Ｐゴシック")
    print(f"  dialog {IDD_UPDATE}: {cx}x{cy} at ({x}, {y}), style 0x{style:08X}, "
          f"{count} controls")

    for i in range(count):
        r.align()
        help_id, ex_style, style, x, y, cx, cy, cid = r.take("IIIhhhhI")
        klass = r.sz_or_ord()
        title = r.sz_or_ord()
        extra = r.take("H")
        r.at += extra
        if i >= len(CONTROLS):
            c.true(f"control {i + 1}: more controls than expected", False)
            continue
        want_id, want_class, want_text, want_rect, want_style = CONTROLS[i]
        n = f"control {i + 1}"
        c.equal(n + " helpID", help_id, 0)
        c.equal(n + " exStyle", ex_style, 0)
        c.equal(n + " style", style, want_style)
        c.equal(n + " rectangle", (x, y, cx, cy), want_rect)
        if want_id == NO_ID:
            c.true(f"{n} id: 0x{cid:X}, expected -1", cid in (0xFFFF, 0xFFFFFFFF))
        else:
            c.equal(n + " id", cid, want_id)
        c.equal(n + " class", klass, ("ord", want_class))
        c.equal(n + " text", title[1] or "", want_text)
        c.true(f"{n} text stored as an ordinal", title[0] != "ord")
        c.equal(n + " extra count", extra, 0)
        print(f"  {n}: id {cid if cid not in (0xFFFF, 0xFFFFFFFF) else -1}, class "
              f"0x{klass[1] if klass[0] == 'ord' else 0:04X}, ({x}, {y}, {cx}, {cy}), "
              f"style 0x{style:08X}, {title[1] or ''!r}")


def version_tree(data, at=0):
    """One version block node: (key, value type, value bytes, children)."""
    r = Reader(data, at)
    length, value_length, vtype = r.take("HHH")
    key = r.wstring()
    r.align()
    value_bytes = value_length * 2 if vtype == 1 else value_length
    value = data[r.at:r.at + value_bytes]
    r.at += value_bytes
    r.align()
    children = []
    while r.at < at + length:
        child, size = version_tree(data, r.at)
        children.append(child)
        r.at += size
        r.align()
    return (key, vtype, value, children), length


def check_version(data, c):
    (key, _, value, children), _ = version_tree(data)
    c.equal("version block key", key, "VS_VERSION_INFO")
    c.equal("VS_FIXEDFILEINFO length", len(value), 52)
    if len(value) < 52:
        return
    (sig, _, fv_ms, fv_ls, pv_ms, pv_ls, _, _, file_os, file_type,
     _, _, _) = struct.unpack_from("<13I", value)
    c.equal("VS_FIXEDFILEINFO signature", sig, 0xFEEF04BD)
    file_version = (fv_ms >> 16, fv_ms & 0xFFFF, fv_ls >> 16, fv_ls & 0xFFFF)
    product_version = (pv_ms >> 16, pv_ms & 0xFFFF, pv_ls >> 16, pv_ls & 0xFFFF)
    c.equal("fixed file version", file_version, (1, 0, 1, 0))
    c.equal("fixed product version", product_version, (1, 3, 0, 0))
    c.equal("FILEOS (VOS__WINDOWS32)", file_os, 0x4)
    c.equal("FILETYPE (VFT_APP)", file_type, 0x1)
    print(f"  version: file {'.'.join(map(str, file_version))}, product "
          f"{'.'.join(map(str, product_version))}, FILEOS 0x{file_os:X}, FILETYPE {file_type}")

    blocks = {child[0]: child for child in children}
    strings = blocks.get("StringFileInfo")
    c.true("no StringFileInfo", strings)
    if strings:
        tables = {t[0]: t for t in strings[3]}
        c.equal("string tables", sorted(tables), ["041104b0"])
        table = tables.get("041104b0")
        if table:
            values = {k: v.decode("utf-16-le").rstrip("\0") for k, _, v, _ in table[3]}
            for name, want in VERSION_STRINGS.items():
                c.equal("version string " + name, values.get(name), want)
            for name in sorted(values):
                print(f"  version string {name} = {values[name]!r}")
    var = blocks.get("VarFileInfo")
    c.true("no VarFileInfo", var)
    if var:
        translation = {k: v for k, _, v, _ in var[3]}.get("Translation", b"")
        c.equal("Translation", translation, struct.pack("<HH", LANG_JA, 1200))


def check_manifest(data, c):
    text = data.decode("utf-8")
    print("  manifest: " + " ".join(text.split()))
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        c.true(f"manifest is not well-formed XML: {e}", False)
        return
    c.equal("manifest root", root.tag, "{urn:schemas-microsoft-com:asm.v1}assembly")
    c.equal("manifestVersion", root.get("manifestVersion"), "1.0")
    c.equal("manifest child elements", [child.tag for child in root], [])
    c.true("manifest assembly holds text", not (root.text or "").strip())


def check_resources(pe, c):
    res = pe.resources()
    print("  resources: " + ", ".join(f"type {t} name {n} lang 0x{l:04X} ({len(d)} bytes)"
                                      for (t, n, l), d in sorted(res.items(), key=str)))

    def langs(rtype, name):
        return sorted(l for (t, n, l) in res if (t, n) == (rtype, name))

    c.equal("languages of dialog 101", langs(RT_DIALOG, IDD_UPDATE), [LANG_JA])
    c.equal("languages of the version block", langs(RT_VERSION, 1), [LANG_JA])
    c.equal("languages of manifest 1", langs(RT_MANIFEST, 1), [LANG_EN_US])
    c.equal("dialogs", sorted({n for (t, n, _) in res if t == RT_DIALOG}, key=str), [IDD_UPDATE])
    c.equal("manifests", sorted({n for (t, n, _) in res if t == RT_MANIFEST}, key=str), [1])
    if (RT_DIALOG, IDD_UPDATE, LANG_JA) in res:
        check_dialog(res[(RT_DIALOG, IDD_UPDATE, LANG_JA)], c)
    if (RT_VERSION, 1, LANG_JA) in res:
        check_version(res[(RT_VERSION, 1, LANG_JA)], c)
    if (RT_MANIFEST, 1, LANG_EN_US) in res:
        check_manifest(res[(RT_MANIFEST, 1, LANG_EN_US)], c)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", choices=sorted(ARCHES), required=True)
    parser.add_argument("--check", choices=("headers", "resources"), required=True)
    parser.add_argument("exe")
    args = parser.parse_args()

    with open(args.exe, "rb") as f:
        data = f.read()
    c = Checker()
    print(f"{args.exe} ({args.arch}, {args.check}):")
    try:
        pe = PeFile(data)
        if args.check == "headers":
            check_headers(pe, args.arch, c)
        else:
            check_resources(pe, c)
    except (ValueError, struct.error, UnicodeDecodeError, IndexError) as e:
        c.true(f"malformed file: {e}", False)
    for failure in c.failures:
        print("FAIL: " + failure)
    print("ok" if not c.failures else f"{len(c.failures)} check(s) failed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
