"""Manifests with one mistake each, and the finding lint must report for it.

CLEAN lints without any finding; each case changes it in one place. A case is
(title, manifest bytes, code, line or None, severity, exit status)."""

CLEAN = """[General]
update=app-2, app-1

[app-2]
version=0x00020000
Unsupport=old
Package=/pkg/app-2.bin
PackageSize=1000
Md5=0123456789ABCDEF0123456789ABCDEF

[app-1]
version=0x00010000
Package=/pkg/app-1.bin
PackageSize=1000
Md5=FEDCBA9876543210FEDCBA9876543210

[old]
ver1=0x100-0x1FF
"""


def with_line(number, text):
    """CLEAN with line `number` (1-based) replaced by `text` (may hold several lines)."""
    lines = CLEAN.split("\n")
    lines[number - 1] = text
    return "\n".join(lines).encode("latin-1")


def past_the_cut(filler_line):
    """CLEAN with filler lines after [app-2] until [app-1] lies past 4096 bytes."""
    head, tail = CLEAN.split("[app-1]")
    filler = (filler_line + "\n") * (4200 // (len(filler_line) + 1))
    return (head + filler + "[app-1]" + tail).encode()


def sections_to_one_mib():
    """CLEAN and then small sections, to 1 MiB: all but the first 4096 bytes are lost."""
    text, number = CLEAN, 0
    while len(text) < 1 << 20:
        text += f"[filler{number}]\nkey=value\n"
        number += 1
    return text.encode()


def comments_past_the_cut():
    return (CLEAN + (";" + "-" * 70 + "\n") * 60).encode()


def staged(rollout="Rollout=10", update="app-1"):
    """CLEAN with app-2 in the staged list (line 3), its Rollout line 8."""
    lines = CLEAN.split("\n")
    lines[1] = f"update={update}\nstaged=app-2"
    lines[5] += "\n" + rollout if rollout else ""
    return "\n".join(lines).encode()


E, W = "error", "warning"

CASES = [
    ("lower-case Md5", with_line(9, "Md5=0123456789abcdef0123456789abcdef"), "md5-case", 9, E, 1),
    ("Md5 of 31 characters", with_line(9, "Md5=" + "A" * 31), "md5-length", 9, E, 1),
    ("Md5 not hexadecimal", with_line(9, "Md5=" + "G" * 32), "md5-format", 9, E, 1),
    ("Md5 of 40 characters", with_line(9, "Md5=" + "A" * 40), "md5-length", 9, W, 0),
    ("no Md5", with_line(9, ""), "no-md5", 4, E, 1),
    ("PackageSize over 128 MiB", with_line(8, "PackageSize=134217729"), "size-too-big", 8, E, 1),
    ("PackageSize 0", with_line(8, "PackageSize=0"), "size-zero", 8, E, 1),
    ("PackageSize not a number", with_line(8, "PackageSize=big"), "not-a-number", 8, E, 1),
    ("PackageSize with a word", with_line(8, "PackageSize=1000 bytes"), "number-trailing", 8, W, 0),
    ("update=a|b", with_line(2, "update=app-2|app-1"), "no-section", 2, E, 1),
    ("empty name in the list", with_line(2, "update=app-2,,app-1"), "empty-name", 2, W, 0),
    ("listed name without section", with_line(2, "update=app-2, app-1, app-3"), "no-section", 2, E, 1),
    ("value over 254 characters", with_line(7, "Package=/pkg/" + "x" * 250 + ".bin"), "too-long", 7, E, 1),
    ("list over 254 characters", with_line(2, "update=app-2, app-1" + ", app-1" * 40), "too-long", 2, E, 1),
    ("version=2.1", with_line(5, "version=2.1"), "number-stops", 5, E, 1),
    ("version read as octal", with_line(5, "version=020001"), "octal", 5, E, 1),
    ("no version", with_line(5, ""), "no-version", 4, E, 1),
    ("ver1=A - B", with_line(18, "ver1=0x100 - 0x1FF"), "ver-blanks", 18, E, 1),
    ("Support names a missing section", with_line(6, "Unsupport=old\nSupport=nwe"), "no-range", 7, E, 1),
    ("Unsupport names a missing section", with_line(6, "Unsupport=odl"), "no-range", 6, E, 1),
    ("language not 0", with_line(6, "Unsupport=old\nlanguage=1033"), "language", 7, E, 1),
    ("shadowed package", with_line(6, ""), "shadowed", 11, W, 0),
    ("package excluded everywhere",
     with_line(12, "version=0x00010000\nUnsupport=all") + b"[all]\ngreater=0\n", "never-admitted", 11, E, 1),
    ("duplicate section", CLEAN.encode() + b"[app-1]\nversion=5\n", "duplicate-section", 19, E, 1),
    ("duplicate key", with_line(5, "version=0x00020000\nVERSION=0x00030000"), "duplicate-key", 6, E, 1),
    ("device name", with_line(7, "Package=/pkg/CON.bin"), "package-name", 7, E, 1),
    ("the manifest's own name", with_line(7, "Package=/pkg/Update.ini"), "package-name", 7, E, 1),
    ("path ending in a slash", with_line(7, "Package=/pkg/"), "package-name", 7, E, 1),
    ("non-ASCII name", with_line(7, "Package=/pkg/caf\xe9.bin"), "package-ascii", 7, W, 0),
    ("Package without /", with_line(7, "Package=pkg/app-2.bin"), "package-slash", 7, W, 0),
    ("CR-only line ends", CLEAN.replace("\n", "\r").encode(), "cr-only", 1, W, 0),
    ("UTF-8 byte-order mark", b"\xef\xbb\xbf" + CLEAN.encode(), "bom", 1, E, 1),
    # Hosts read UTF-16LE through the profile reader: the packages are there.
    ("UTF-16LE text", b"\xff\xfe" + CLEAN.encode("utf-16-le"), "utf16", 1, W, 0),
    ("inline comment", with_line(7, "Package=/pkg/app-2.bin   ; the build"), "inline-comment", 7, E, 1),
    ("inline comment in the list", with_line(2, "update=app-2, app-1 ; newest first"), "inline-comment", 2, E, 1),
    ("package past the 4096-byte cut", past_the_cut(";" + "=" * 60), "cut", None, E, 1),
    ("only comments past the cut", comments_past_the_cut(), "cut", None, W, 0),
    ("1 MiB of sections", sections_to_one_mib(), "cut", None, E, 1),
    ("no [General]", with_line(1, "[Genral]"), "no-general", 0, E, 1),
    ("key before the first section", b"stray=1\n" + CLEAN.encode(), "outside", 1, W, 0),
    ("# is no comment", with_line(3, "#build=7"), "hash", 3, W, 0),
    ("line that is nothing", with_line(3, "just words"), "ignored", 3, W, 0),
    ("empty ver range", with_line(18, "ver1=0x1FF-0x100"), "ver-empty", 18, W, 0),
    # Keys hosts never read, in each kind of section; (title, data, code, line,
    # severity, exit status, the suggestion the message must hold or None).
]

# The keys of staged releases, and what people are told of a package.
CASES += [
    ("staged without Rollout", staged(None), "no-rollout", 5, E, 1),
    ("Rollout above 100", staged("Rollout=150"), "rollout-range", 8, W, 0),
    ("Rollout 0", staged("Rollout=0"), "rollout-stopped", 8, W, 0),
    ("Rollout in octal", staged("Rollout=010"), "octal", 8, E, 1),
    ("staged and in the update list", staged(update="app-2, app-1"), "staged-and-update", 3, W, 0),
    ("staged name without a section", with_line(2, "update=app-2, app-1\nstaged=app-3"), "no-section", 3, E, 1),
    ("Rollout outside the staged list", with_line(6, "Unsupport=old\nRollout=5"), "rollout-unstaged", 7, W, 0),
    ("Notes not a URL", with_line(6, "Unsupport=old\nNotes=notes.html"), "notes-url", 7, W, 0),
    ("DisplayVersion of 64 bytes", with_line(6, "Unsupport=old\nDisplayVersion=" + "v" * 64),
     "display-version-long", 7, W, 0),
    ("Critical not 0 or 1", with_line(6, "Unsupport=old\nCritical=yes"), "critical-value", 7, W, 0),
]

UNKNOWN_KEY_CASES = [
    ("Suport in a package", with_line(6, "Unsupport=old\nSuport=v0x"), "unknown-key", 7, W, 0, "Support?"),
    ("Unsuport in a package", with_line(6, "Unsuport=old"), "unknown-key", 6, W, 0, "Unsupport?"),
    ("PackgeSize, two edits", with_line(8, "PackgeSiz=1000\nPackageSize=1000"), "unknown-key", 8, W, 0,
     "PackageSize?"),
    ("upate in [General]", with_line(2, "update=app-2, app-1\nupate=app-2"), "unknown-key", 3, W, 0, "update?"),
    ("Expire in [General]", with_line(2, "update=app-2, app-1\nexpire=2099-01-01"), "unknown-key", 3, W, 0,
     "Expires?"),
    ("lowr in a range", with_line(18, "ver1=0x100-0x1FF\nlowr=5"), "unknown-key", 19, W, 0, "lower?"),
    ("nothing near", with_line(7, "Package=/pkg/app-2.bin\nchannel=beta"), "unknown-key", 8, W, 0, None),
    ("range no package names", CLEAN.encode() + b"\n[beta]\nVER=0x1-0x2\nlower=3\n", "range-unused", 20, W, 0, None),
]
# The keys hosts do read, in any case, ver* ones included: no unknown-key.
READ_KEYS = (CLEAN.replace("ver1=", "VERsion9=").replace("Package=", "package=")
             .replace("version=0x00010000\n", "version=0x00010000\ndisplayversion=1.0\nNOTES=https://example.com/1\n"
                      "critical=0\n") + "greater=0x7FFFFFFF\n")


def signed_clean(expires="2099-12-31", sha_app2="89ABCDEF" * 8, drop_line=None):
    """CLEAN as a host that passes keys needs it: Expires and a Sha256 in
    each package (upper case in one, lower in the other). Its lines: 3 is
    Expires, 5 [app-2], 11 and 18 the Sha256 lines, 22 the signature line."""
    text = with_line(2, f"update=app-2, app-1\nExpires={expires}").decode()
    lines = text.split("\n")
    lines[9] += "\nSha256=" + sha_app2
    lines[15] += "\nSha256=" + "0123456789abcdef" * 4
    lines = "\n".join(lines).split("\n")
    if drop_line:
        del lines[drop_line - 1]
    return "\n".join(lines).encode()


SIGNED = signed_clean()

# Manifests judged by `lint --trusted-key`, made by sign(bytes, key="publisher"
# or "other"): (title, build(sign), code, line, severity, exit status).
SIGNED_CASES = [
    ("no signature line", lambda sign: SIGNED, "no-signature", 0, E, 1),
    ("signature line not last", lambda sign: sign(SIGNED) + b"; added later\n", "signature-not-last", 22, E, 1),
    ("a byte changed after signing",
     lambda sign: sign(SIGNED).replace(b"PackageSize=1000", b"PackageSize=1001", 1), "signature-mismatch", 22, E, 1),
    ("a line end changed after signing", lambda sign: sign(SIGNED).replace(b"\n", b"\r\n", 1),
     "signature-mismatch", 22, E, 1),
    ("signed by another key", lambda sign: sign(SIGNED, "other"), "signature-mismatch", 22, E, 1),
    ("signature not base64 of 64 bytes", lambda sign: SIGNED + b";signature=" + b"A" * 87 + b"=\n",
     "signature-malformed", 22, E, 1),
    ("expired", lambda sign: sign(signed_clean(expires="2001-01-01")), "expired", 3, E, 1),
    ("Expires not a date", lambda sign: sign(signed_clean(expires="2099-13-01")), "expires-format", 3, E, 1),
    ("no Sha256", lambda sign: sign(signed_clean(drop_line=11)), "no-sha256", 5, E, 1),
    ("Sha256 of 63 digits", lambda sign: sign(signed_clean(sha_app2="A" * 63)), "sha256-format", 11, E, 1),
    ("Sha256 not hexadecimal", lambda sign: sign(signed_clean(sha_app2="G" * 64)), "sha256-format", 11, E, 1),
    ("signature line past the 4096-byte cut",
     lambda sign: sign(SIGNED + (";" + "-" * 70 + "\n").encode() * 60), "no-signature", 0, E, 1),
]
