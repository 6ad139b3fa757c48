#!/usr/bin/env python3
"""Checks the built module files as a host or loader sees them.

  check_artifacts.py pe-exports   --objdump TOOL --dll Marvostell.dll
  check_artifacts.py pe-resources --windres TOOL --dll Marvostell.dll
  check_artifacts.py elf --nm TOOL --readelf TOOL --lib libmarvostell.so.X --soname NAME

Each prints what it found wrong and exits 1, or exits 0 when all holds.
"""
import argparse
import re
import subprocess
import sys

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "wininet.dll", "ws2_32.dll",
                   "wsock32.dll", "msvcrt.dll"}

LANG_EN_US = 0x0409
LANG_ZH_CN = 0x0804

RT_CURSOR, RT_BITMAP, RT_DIALOG, RT_STRING = 1, 2, 5, 6
RT_GROUP_CURSOR, RT_VERSION = 12, 16


class Problems:
    def __init__(self):
        self.items = []

    def check(self, ok, message):
        if not ok:
            self.items.append(message)
        return ok

    def finish(self, what):
        for item in self.items:
            print("FAIL: " + item)
        if self.items:
            print("%s: %d problem(s)" % (what, len(self.items)))
            return 1
        print("%s: OK" % what)
        return 0


def run(cmd):
    try:
        out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    except FileNotFoundError:
        sys.exit("cannot run %s" % cmd[0])
    except subprocess.CalledProcessError as e:
        sys.exit("%s failed (%d): %s" % (" ".join(cmd), e.returncode,
                                         e.stderr.decode(errors="replace")))
    return out.stdout.decode("utf-8", errors="replace")


# --------------------------------------------------------------------------
# PE export directory and imports (objdump -p)

def parse_pe_tables(text):
    """Export directory fields, its two tables and the imported DLL names."""
    info = {"name": None, "base": None, "eat": [], "names": [], "counts": [],
            "imports": []}
    section = None
    for line in text.splitlines():
        m = re.match(r"\s*DLL Name:\s*(\S+)", line)
        if m:
            info["imports"].append(m.group(1))
            continue
        if line.startswith("The Export Tables"):
            section = "export"
            continue
        if section is None:
            continue
        if line.startswith("Table Addresses"):
            section = "addresses"   # RVAs of the tables, not counts
        elif line.startswith("Export Address Table --"):
            section = "eat"
        elif line.startswith("[Ordinal/Name Pointer] Table"):
            section = "names"
        elif line and not line[0].isspace() and section != "export":
            section = None          # the next top-level heading
        elif section == "export":
            m = re.match(r"Name\s+[0-9a-fA-F]+\s+(\S+)", line)
            if m:
                info["name"] = m.group(1)
            m = re.match(r"Ordinal Base\s+(\d+)", line)
            if m:
                info["base"] = int(m.group(1))
            m = re.match(r"\s+(Export Address Table|\[Name Pointer/Ordinal\] Table)"
                         r"\s+([0-9a-fA-F]+)$", line)
            if m:
                info["counts"].append((m.group(1), int(m.group(2), 16)))
        elif section == "eat":
            m = re.match(r"\s+\[\s*(\d+)\] \+base\[\s*(\d+)\]\s+([0-9a-fA-F]+)\s+(.*)", line)
            if m:
                info["eat"].append((int(m.group(2)), int(m.group(3), 16),
                                    m.group(4).strip()))
        elif section == "names":
            m = re.match(r"\s+\[\s*(\d+)\]\s+(\S+)", line)
            if m:
                info["names"].append((int(m.group(1)), m.group(2)))
    return info


def cmd_pe_exports(args):
    p = Problems()
    info = parse_pe_tables(run([args.objdump, "-p", args.dll]))
    p.check(info["name"] == "Corvalandine.dll",
            "export directory name is %r, want 'Corvalandine.dll'" % info["name"])
    p.check(info["base"] == 1, "ordinal base is %r, want 1" % info["base"])
    p.check(info["counts"] == [("Export Address Table", 2),
                               ("[Name Pointer/Ordinal] Table", 2)],
            "export counts are %r, want two addresses and two names" % info["counts"])
    p.check([e[0] for e in info["eat"]] == [1, 2]
            and all(e[1] != 0 and e[2] == "Export RVA" for e in info["eat"]),
            "export address table has %d entries (first %r), want functions "
            "at ordinals 1 and 2" % (len(info["eat"]), info["eat"][:3]))
    # The name table's index is relative to the ordinal base.
    p.check(info["names"] == [(0, "CheckNewVersion"), (1, "CheckNewVersionEx")],
            "%d export names (%s), want CheckNewVersion at ordinal 1 and "
            "CheckNewVersionEx at 2"
            % (len(info["names"]), ", ".join(n for _, n in info["names"][:8])))
    p.check(bool(info["imports"]), "no import table found")
    for dll in info["imports"]:
        p.check(dll.lower() in ALLOWED_IMPORTS, "imports from %s" % dll)
    print("imports: " + ", ".join(info["imports"]))
    return p.finish("exports of " + args.dll)


# --------------------------------------------------------------------------
# Resources (windres -O rc)

def decode_rc_string(token):
    """A quoted string as windres writes it: L"..." or "...", "" for a quote,
    C escapes, \\ooo octal and \\xHHHH (four digits in wide strings)."""
    wide = token.startswith("L")
    body = token[2:-1] if wide else token[1:-1]
    out, i = [], 0
    simple = {"n": "\n", "t": "\t", "r": "\r", "a": "\a", "b": "\b",
              "f": "\f", "v": "\v", "\\": "\\", '"': '"', "'": "'"}
    while i < len(body):
        c = body[i]
        if c == '"' and body[i + 1:i + 2] == '"':
            out.append('"')
            i += 2
        elif c == "\\":
            n = body[i + 1]
            if n in simple:
                out.append(simple[n])
                i += 2
            elif n == "x":
                m = re.match(r"[0-9a-fA-F]{1,%d}" % (4 if wide else 2), body[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
            else:
                m = re.match(r"[0-7]{1,3}", body[i + 1:])
                out.append(chr(int(m.group(0), 8)))
                i += 1 + len(m.group(0))
        else:
            out.append(c)
            i += 1
    return "".join(out)


STRING_RE = r'L?"(?:[^"\\]|\\.|"")*"'
TOKEN_RE = re.compile(r'\s*(%s|[^,\s]+)\s*(?:,|$)' % STRING_RE)


def split_args(text):
    """Comma-separated statement arguments; strings decoded, numbers parsed."""
    text = re.sub(r"/\*.*?\*/", "", text).strip()
    args, pos = [], 0
    while pos < len(text):
        m = TOKEN_RE.match(text, pos)
        if not m:
            raise ValueError("cannot parse %r" % text)
        tok = m.group(1)
        if tok.startswith('"') or tok.startswith('L"'):
            args.append(decode_rc_string(tok))
        else:
            try:
                args.append(int(tok.rstrip("lL"), 0))
            except ValueError:
                args.append(tok)
        pos = m.end()
    return args


class Resource:
    def __init__(self, rtype, name, lang):
        self.type, self.name, self.lang = rtype, name, lang
        self.form = None            # DIALOG or DIALOGEX
        self.rect = None
        self.props = {}             # STYLE, CAPTION, FONT, ... of a dialog
        self.body = []              # statements between BEGIN and END


def parse_rc_dump(text):
    """Resources from windres -O rc: (type, name, lang) -> Resource, where
    string tables become one RT_STRING entry per string (name = string ID)."""
    resources = {}
    strings = {}
    lang = None
    lines = re.sub(r"/\*.*?\*/", "", text, flags=re.S).splitlines()
    i = 0

    def block(i, into):
        """Statements of a BEGIN...END block, nested blocks as (head, list)."""
        assert lines[i].strip() == "BEGIN", lines[i]
        i += 1
        while lines[i].strip() != "END":
            s = lines[i].strip()
            if not s:
                i += 1
                continue
            if lines[i + 1].strip() == "BEGIN":
                sub = []
                i = block(i + 1, sub)
                into.append((s, sub))
            else:
                into.append(s)
                i += 1
        return i + 1

    while i < len(lines):
        s = lines[i].strip()
        m = re.match(r"LANGUAGE (\d+), (\d+)$", s)
        if m:
            lang = int(m.group(2)) << 10 | int(m.group(1))
            i += 1
            continue
        if s == "STRINGTABLE":
            body = []
            i = block(i + 1, body)
            for stmt in body:
                sid, value = split_args(stmt)
                strings[(sid, lang)] = value
            continue
        m = re.match(r"(\d+) (DIALOGEX|DIALOG|VERSIONINFO|\d+)\b(.*)$", s)
        if not m:
            i += 1
            continue
        name, kind, rest = int(m.group(1)), m.group(2), m.group(3)
        rtype = {"DIALOG": RT_DIALOG, "DIALOGEX": RT_DIALOG,
                 "VERSIONINFO": RT_VERSION}.get(kind) or int(kind)
        res = Resource(rtype, name, lang)
        i += 1
        if rtype == RT_DIALOG:
            res.form = kind
            res.rect = [int(v) for v in re.findall(r"-?\d+", rest)]
        while lines[i].strip() != "BEGIN":
            key, _, value = lines[i].strip().partition(" ")
            res.props[key] = split_args(value) if rtype == RT_DIALOG else value
            i += 1
        i = block(i, res.body)
        resources[(rtype, name, lang)] = res
    for (sid, slang), value in strings.items():
        r = Resource(RT_STRING, sid, slang)
        r.body = [value]
        resources[(RT_STRING, sid, slang)] = r
    return resources


def controls(res):
    """Dialog items as dicts: class, text, id, x, y, w, h, style."""
    out = []
    for stmt in res.body:
        kw, _, rest = stmt.partition(" ")
        a = split_args(rest)
        if kw == "CONTROL":
            text, cid, cls, style, x, y, w, h = a[:8]
        elif kw in ("LISTBOX", "COMBOBOX", "EDITTEXT", "SCROLLBAR"):
            text, (cid, x, y, w, h, style), cls = "", a[:6], kw
        else:
            (text, cid, x, y, w, h, style), cls = a[:7], kw
        out.append({"kw": kw, "class": cls, "text": text, "id": cid,
                    "rect": [x, y, w, h], "style": style})
    return out


def longs(res):
    """Raw data of a binary resource as windres prints it (32-bit values)."""
    vals = []
    for stmt in res.body:
        vals += [v for v in split_args(stmt) if isinstance(v, int)]
    return vals


def is_cjk_text(s):
    return any("\u4e00" <= c <= "\u9fff" for c in s) and all(
        c < "\x7f" or "\u3000" <= c <= "\u303f" or "\u4e00" <= c <= "\u9fff"
        or "\uff00" <= c <= "\uffef" for c in s)


def check_progress_dialog(p, res):
    where = "dialog 2000"
    p.check(res.form == "DIALOG", "%s: form %s, want DIALOG" % (where, res.form))
    p.check(res.rect == [0, 0, 187, 90], "%s: rect %r" % (where, res.rect))
    p.check(res.props.get("STYLE") == [0x80C800C0],
            "%s: style %r" % (where, res.props.get("STYLE")))
    p.check(res.props.get("CAPTION") == ["Check for updates"],
            "%s: caption %r" % (where, res.props.get("CAPTION")))
    p.check(res.props.get("FONT") == [8, "MS Sans Serif"],
            "%s: font %r" % (where, res.props.get("FONT")))
    extra = set(res.props) - {"STYLE", "CAPTION", "FONT"}
    p.check(not extra, "%s: unexpected %s" % (where, sorted(extra)))
    want = [
        {"kw": "PUSHBUTTON", "class": "PUSHBUTTON", "text": "Cancel", "id": 2,
         "rect": [69, 67, 50, 14], "style": 0x50010000},
        {"kw": "CONTROL", "class": "msctls_progress32", "text": "Progress1",
         "id": 2000, "rect": [17, 42, 154, 14], "style": 0x50800001},
        {"kw": "LTEXT", "class": "LTEXT", "text": "UPDATE TIP", "id": 2001,
         "rect": [25, 17, 135, 12], "style": 0x50020000},
    ]
    got = controls(res)
    p.check(len(got) == len(want), "%s: %d controls, want 3" % (where, len(got)))
    for n, (g, w) in enumerate(zip(got, want), 1):
        diff = {k: (hex(g[k]) if k == "style" else g[k]) for k in w if g[k] != w[k]}
        p.check(not diff, "%s: control %d (%s) differs: %r" % (where, n, w["text"], diff))


def version_keys(commas):
    """The version block's strings, for the version written with commas."""
    return [
        ("Comments", ""), ("CompanyName", "Marvostell Project"),
        ("FileDescription", "Marvostell DLL"), ("FileVersion", commas),
        ("InternalName", "Marvostell"),
        ("LegalCopyright", "Copyright (C) 2026 Marvostell Project"),
        ("LegalTrademarks", ""), ("OriginalFilename", "Marvostell.dll"),
        ("PrivateBuild", ""), ("ProductName", "Marvostell Host"),
        ("ProductVersion", commas), ("SpecialBuild", ""),
        ]


def check_version(p, res, version):
    """version: the project's, dotted (1.2.3.4); the block writes it 1,2,3,4."""
    commas = version.replace(".", ",")
    fixed = {k: v.replace(" ", "") for k, v in res.props.items()}
    # windres leaves out fields that are zero (flags, subtype, date).
    want = {"FILEVERSION": commas, "PRODUCTVERSION": commas,
            "FILEFLAGSMASK": "0x3f", "FILEOS": "0x4", "FILETYPE": "0x2"}
    p.check(fixed == want, "version: fixed part %r, want %r" % (fixed, want))
    blocks = {head: body for head, body in
              (b for b in res.body if isinstance(b, tuple))}
    sfi = blocks.get('BLOCK "StringFileInfo"', [])
    p.check(len(sfi) == 1 and sfi[0][0] == 'BLOCK "080404b0"',
            "version: string tables %r, want only 080404b0"
            % [b[0] for b in sfi if isinstance(b, tuple)])
    values = []
    for stmt in (sfi[0][1] if sfi and isinstance(sfi[0], tuple) else []):
        kw, _, rest = stmt.partition(" ")
        if kw == "VALUE":
            values.append(tuple(split_args(rest)))
    # Values may carry their terminator in the dump as "\0".
    values = [(k, v.rstrip("\0")) for k, v in values]
    p.check(values == version_keys(commas), "version: strings %r" % values)
    vfi = [split_args(s.partition(" ")[2])
           for s in blocks.get('BLOCK "VarFileInfo"', [])]
    p.check(vfi == [["Translation", 0x804, 1200]],
            "version: translation %r, want 0x804, 1200" % vfi)


def cmd_pe_resources(args):
    p = Problems()
    res = parse_rc_dump(run([args.windres, "-i", args.dll, "-O", "rc"]))

    # The whole inventory: nothing missing, nothing stray. Cursor images are
    # numbered by the resource compiler; their group names them.
    framework_strings = sorted(n for (t, n, l) in res
                               if t == RT_STRING and l == LANG_ZH_CN)
    group = res.get((RT_GROUP_CURSOR, 30977, LANG_ZH_CN))
    cursor_images = set()
    if p.check(group is not None, "cursor group 30977 (0x0804) missing"):
        g = longs(group)
        # reserved, type 2, count, then per image: w, h, planes, bits, size, id
        p.check(g[:3] == [0, 2, 1], "cursor group 30977: header %r" % g[:3])
        p.check(g[3:7] == [32, 64, 1, 1], "cursor group 30977: image %r, want "
                "32x32 monochrome (height 64 counts both masks)" % g[3:7])
        cursor_images = {(RT_CURSOR, n, LANG_ZH_CN) for n in g[8::6]}
        for key in cursor_images:
            if p.check(key in res, "cursor image %d missing" % key[1]):
                c = longs(res[key])
                # hot spot x, y (16 bits each), then the BITMAPINFOHEADER
                p.check(c[2:5] == [40, 32, 64], "cursor image %d: header %r"
                        % (key[1], c[2:5]))
    expected = {(RT_DIALOG, 2000, LANG_EN_US), (RT_STRING, 101, LANG_EN_US),
                (RT_DIALOG, 30721, LANG_ZH_CN), (RT_VERSION, 1, LANG_ZH_CN),
                (RT_GROUP_CURSOR, 30977, LANG_ZH_CN)} | cursor_images
    expected |= {(RT_BITMAP, n, LANG_ZH_CN) for n in (26567, 30994, 30995, 30996)}
    expected |= {(RT_STRING, n, LANG_ZH_CN) for n in framework_strings}
    for key in sorted(expected - set(res)):
        p.check(False, "missing resource type %d name %d language 0x%04x" % key)
    for key in sorted(set(res) - expected):
        p.check(False, "unexpected resource type %d name %d language 0x%04x" % key)

    if (RT_DIALOG, 2000, LANG_EN_US) in res:
        check_progress_dialog(p, res[(RT_DIALOG, 2000, LANG_EN_US)])
    s101 = res.get((RT_STRING, 101, LANG_EN_US))
    p.check(s101 is not None and s101.body == ["Failed to initialize windows socket."],
            "string 101: %r" % (s101.body if s101 else None))

    p.check(len(framework_strings) == 72 and
            all(0xF000 <= n <= 0xF1C0 for n in framework_strings),
            "Chinese strings: %d, IDs %s..%s, want 72 in 0xF000..0xF1C0"
            % (len(framework_strings),
               hex(min(framework_strings)) if framework_strings else "-",
               hex(max(framework_strings)) if framework_strings else "-"))
    garbled = [(hex(n), res[(RT_STRING, n, LANG_ZH_CN)].body[0])
               for n in framework_strings
               if not is_cjk_text(res[(RT_STRING, n, LANG_ZH_CN)].body[0])]
    p.check(not garbled, "%d Chinese strings do not decode as Chinese text, "
            "first: %r" % (len(garbled), garbled[:3]))

    dlg = res.get((RT_DIALOG, 30721, LANG_ZH_CN))
    if dlg is not None:
        items = controls(dlg)
        kinds = sorted((c["kw"], c["id"]) for c in items if c["kw"] != "LTEXT")
        p.check(kinds == [("DEFPUSHBUTTON", 1), ("LISTBOX", 100), ("PUSHBUTTON", 2)],
                "dialog 30721: controls %r, want a list box, OK and Cancel" % kinds)
        texts = dlg.props.get("CAPTION", []) + [c["text"] for c in items if c["text"]]
        for t in texts:
            p.check(is_cjk_text(t), "dialog 30721: text %r is not Chinese" % t)
        p.check(bool(dlg.props.get("STYLE", [0])[0] & 0x80000000),
                "dialog 30721: not a pop-up")

    for n in (26567, 30994, 30995, 30996):
        bmp = res.get((RT_BITMAP, n, LANG_ZH_CN))
        if bmp is not None:
            v = longs(bmp)
            p.check(v[0] == 40 and 0 < v[1] <= 64 and 0 < v[2] <= 64,
                    "bitmap %d: header %r, want a small DIB" % (n, v[:3]))

    if (RT_VERSION, 1, LANG_ZH_CN) in res:
        check_version(p, res[(RT_VERSION, 1, LANG_ZH_CN)], args.version)
    return p.finish("resources of " + args.dll)


# --------------------------------------------------------------------------
# ELF shared library

LINKER_SYMBOLS = {"_init", "_fini", "_edata", "_end", "__bss_start"}


def cmd_elf(args):
    p = Problems()
    defined = []
    for line in run([args.nm, "-D", "--defined-only", args.lib]).splitlines():
        parts = line.split()
        name = parts[2].split("@")[0] if len(parts) >= 3 else None
        if name and name not in LINKER_SYMBOLS:
            defined.append((parts[1], name))
    exports = ("CheckNewVersion", "CheckNewVersionEx")
    others = [s for _, s in defined if s not in exports]
    p.check(not others, "%d other dynamic symbols defined (%s), want only "
            "the two exports" % (len(others), ", ".join(others[:5])))
    for name in exports:
        p.check(("T", name) in defined, "%s is not a defined function" % name)
    dyn = run([args.readelf, "-d", args.lib])
    sonames = re.findall(r"\(SONAME\)\s+Library soname: \[(.*)\]", dyn)
    p.check(sonames == [args.soname], "SONAME %r, want %r" % (sonames, args.soname))
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.*)\]", dyn)
    p.check("libcurl.so.4" in needed, "NEEDED %r lacks libcurl.so.4" % needed)
    return p.finish(args.lib)


def main():
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest="cmd", required=True)
    a = sub.add_parser("pe-exports")
    a.add_argument("--objdump", required=True)
    a.add_argument("--dll", required=True)
    a = sub.add_parser("pe-resources")
    a.add_argument("--windres", required=True)
    a.add_argument("--version", required=True, help="the project's version, 1.2.3.4")
    a.add_argument("--dll", required=True)
    a = sub.add_parser("elf")
    a.add_argument("--nm", required=True)
    a.add_argument("--readelf", required=True)
    a.add_argument("--lib", required=True)
    a.add_argument("--soname", required=True)
    args = ap.parse_args()
    return {"pe-exports": cmd_pe_exports, "pe-resources": cmd_pe_resources,
            "elf": cmd_elf}[args.cmd](args)


if __name__ == "__main__":
    sys.exit(main())
