#!/usr/bin/env python3
"""marvostell-manifest patch and pack (natively, or the Windows one under
Wine): a patch applied here by docs/patch-format.md's rules makes NEW, a packed
file inflates to FILE, the printed keys name the files' sizes and digests, and
what would not pay (a patch over half the packed package, a file that does not
shrink) is refused with nothing written. Then the publishing flow: new
--patch-from signs a manifest with patch sections, lint judges a table of
broken delta keys, verify --base-dir applies each patch, explain names the
hosts that get one, and marvostell-check reports the patched download."""
import argparse, hashlib, json, os, random, struct, subprocess, sys, tempfile, zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from expectations import expect, report  # noqa: E402
from test_server import TestServer  # noqa: E402



def apply_patch(base, patch):
    """The format as docs/patch-format.md states it, without its checks."""
    magic, version, flags, new_size, old_size = struct.unpack_from("<8sIIQQ", patch)
    lengths = struct.unpack_from("<6Q", patch, 32)
    assert (magic, version, flags, old_size) == (b"MVSPATCH", 1, 0, len(base))
    at, streams = 80, []
    for packed, unpacked in zip(lengths[0::2], lengths[1::2]):
        streams.append(zlib.decompress(patch[at:at + packed]))
        assert len(streams[-1]) == unpacked
        at += packed
    control, diff, extra = streams
    out, old, d, e = bytearray(), 0, 0, 0
    for i in range(0, len(control), 24):
        add, more, seek = struct.unpack_from("<QQq", control, i)
        out += bytes((base[old + k] + diff[d + k]) & 0xFF for k in range(add))
        out += extra[e:e + more]
        old, d, e = old + add + seek, d + add, e + more
    assert len(out) == new_size
    return bytes(out)


# A signed package section with one patch and a packed file: each case
# replaces one line of it (old -> new) and names the finding lint must give.
DELTA_BASE = """[General]
update=app
[app]
version=2
Package=/app-2.exe
PackageSize=1000
Md5=0123456789ABCDEF0123456789ABCDEF
Packed=/app-2.exe.z
PackedSize=500
PackedSha256=%(h)s
Patches=p1
[p1]
From=app-1.exe
FromSize=900
FromSha256=%(h)s
Patch=/p1.patch
PatchSize=100
PatchSha256=%(h)s
""" % {"h": "ab" * 32}
LINT_CASES = [  # (replace, with, code)
    ("PackedSize=500", "PackedSize=0", "packed-entry"),
    ("PackedSha256=" + "ab" * 32, "PackedSha256=abc", "packed-entry"),
    ("PackedSize=500", "PackedSize=1000", "packed-larger"),
    ("Patches=p1", "Patches=p1, p9", "patch-section"),
    ("Patches=p1", "Patches=p1 p1", "patch-twice"),
    ("Patches=p1", "Patches=" + " ".join(["p1"] + [f"q{i}" for i in range(16)]), "patches-many"),
    ("From=app-1.exe", "From=app-2.exe", "patch-entry"),
    ("From=app-1.exe", "From=../app-1.exe", "patch-entry"),
    ("FromSize=900", "FromSize=0x", "patch-entry"),
    ("PatchSha256=" + "ab" * 32, "PatchSha256=" + "ab" * 31, "patch-entry"),
    ("Patch=/p1.patch", "Patch=", "patch-entry"),
    ("From=app-1.exe", "From=app-2.exe.z", "patch-chain"),
    ("PatchSize=100", "PatchSize=100\nPatches=p1", "patch-chain"),
    ("PatchSize=100", "PatchSize=1000", "patch-larger"),
    ("PatchSize=100", "PatchSize=100\nFromSha=1", "unknown-key"),
    ("PatchSize=100", "PatchSize=100\n" + "; padding\n" * 400, "budget"),
]


def keys(text):
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    return path


def publish(run, local, args, work, files, old, new, sha):
    """new --patch-from, signed; verify --base-dir; explain; a check that patches."""
    dirs = {name: os.path.join(work, name) for name in ("earlier", "release", "root", "host")}
    for d in dirs.values():
        os.makedirs(d)
    write_file(os.path.join(dirs["earlier"], "app-2.1.exe"), old)
    write_file(os.path.join(dirs["earlier"], "notes.txt"), random.Random(3).randbytes(5000))
    release = write_file(os.path.join(dirs["release"], "app-2.2.exe"), new)
    status, public, err = run("keygen", "--out", local(os.path.join(work, "key.pem")))
    manifest = os.path.join(dirs["root"], "update.ini")
    status, _, err = run("new", "--package", local(release) + ":0x20002", "--path-prefix", "/",
                         "--patch-from", local(dirs["earlier"]), "--key", local(os.path.join(work, "key.pem")),
                         "--output", local(manifest))
    patch_name = "app-2.1-to-app-2.2.patch"
    if not expect(status == 0 and "no patch from notes.txt" in err, f"new --patch-from: {status} {err!r}"):
        return
    text = open(manifest).read()
    expect(f"Patches={patch_name}\n" in text and f"[{patch_name}]\nFrom=app-2.1.exe\n" in text,
           f"new --patch-from: {text!r}")
    for name in (patch_name, "app-2.2.exe"):
        os.replace(os.path.join(dirs["release"], name), os.path.join(dirs["root"], name))
    with TestServer(args.server, dirs["root"], work) as server:
        url = server.base + "/update.ini"
        status, out, err = run("verify", "--json", "--base-dir", local(dirs["earlier"]), url)
        deltas = json.loads(out)["deltas"] if out else []
        expect(status == 0 and [d["good"] for d in deltas] == [True], f"verify --base-dir: {status} {out!r} {err!r}")
        status, out, _ = run("explain", "--host-version", "1", local(manifest))
        expect("holds app-2.1.exe" in out and "the others: Package" in out, f"explain: {out!r}")
        # Each case spoils one file; verify names the fault with its code.
        patch_file = os.path.join(dirs["root"], patch_name)
        patch = open(patch_file, "rb").read()
        for path, data, code in [(patch_file, patch[:-1] + b"x", "verify-sha256"),
                                 (patch_file, patch + b"x", "verify-size"),
                                 (os.path.join(dirs["earlier"], "app-2.1.exe"), new[:len(old)], "verify-patch-base")]:
            kept = open(path, "rb").read()
            write_file(path, data)
            _, out, _ = run("verify", "--json", "--base-dir", local(dirs["earlier"]), url)
            write_file(path, kept)
            codes = [f["code"] for f in json.loads(out)["findings"]] if out else []
            expect(code in codes, f"verify with {os.path.basename(path)} spoilt: wants {code}, got {codes}")

        # A host with the base gets the patch; one without it the packed package.
        status, packed_keys, err = run("pack", local(os.path.join(dirs["root"], "app-2.2.exe")))
        text = open(manifest).read().split(";signature=")[0].replace("Patches=", packed_keys + "Patches=")
        write_file(manifest, text)
        status, _, err = run("sign", "--key", local(os.path.join(work, "key.pem")), local(manifest))
        expect(status == 0, f"sign with Packed: {status} {err!r}")
        write_file(os.path.join(dirs["host"], "app-2.1.exe"), old)
        packed_size = os.path.getsize(os.path.join(dirs["root"], "app-2.2.exe.z"))
        for base, want, line in [(True, {"kind": "patch", "base": "app-2.1.exe", "download_size": len(patch)},
                                  "patched from app-2.1.exe: "),
                                 (False, {"kind": "packed", "base": None, "download_size": packed_size}, "packed: ")]:
            if not base:
                os.remove(os.path.join(dirs["host"], "app-2.1.exe"))
            reports = []
            for form in (["--json"], []):
                if os.path.exists(os.path.join(dirs["host"], "app-2.2.exe")):
                    os.remove(os.path.join(dirs["host"], "app-2.2.exe"))
                check = subprocess.run(([args.wine] if args.wine else []) + [
                    args.check, "--ex", "--trusted-key", public.strip(), "--dir", local(dirs["host"]),
                    "--host-version", "1", url] + form, capture_output=True, text=True)
                reports.append(check.stdout)
            report = json.loads(reports[0] or "{}")
            expect(report.get("delta") == dict(want, package_size=len(new)) and line in reports[1]
                   and open(os.path.join(dirs["host"], "app-2.2.exe"), "rb").read() == new,
                   f"check ({want['kind']}): {reports!r}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", help="run-wine, to run Windows programs")
    parser.add_argument("--server", help="marvostell-test-server, for the publishing flow")
    parser.add_argument("--check", help="marvostell-check, for the publishing flow")
    parser.add_argument("tool")
    args = parser.parse_args()
    prefix = [args.wine] if args.wine else []

    def local(path):
        return "Z:" + path.replace("/", "\\") if args.wine else path

    def run(*arguments):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            status = subprocess.run(prefix + [args.tool] + list(arguments), stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err).returncode
            out.seek(0)
            err.seek(0)
            return status, out.read().decode().replace("\r\n", "\n"), err.read().decode().replace("\r\n", "\n")

    rng = random.Random(29)
    old = rng.randbytes(200000)
    new = bytearray(old)
    for _ in range(300):
        new[rng.randrange(len(new))] = rng.randrange(256)
    new[70000:70000] = b"a new function " * 400
    del new[150000:160000]
    new = bytes(new)
    with tempfile.TemporaryDirectory(prefix="marvostell-delta-") as work:
        files = {}
        for name, data in (("app-2.1.exe", old), ("app-2.2.exe", new), ("other.exe", rng.randbytes(200000)),
                           ("text.txt", b"a line of text\n" * 20000)):
            files[name] = os.path.join(work, name)
            with open(files[name], "wb") as f:
                f.write(data)
        sha = lambda data: hashlib.sha256(data).hexdigest()

        patch_file = os.path.join(work, "app-2.1-to-2.2.patch")
        status, out, err = run("patch", local(files["app-2.1.exe"]), local(files["app-2.2.exe"]),
                               "-o", local(patch_file), "--path-prefix", "/pkg")
        if expect(status == 0 and os.path.exists(patch_file), f"patch: {status} {err!r}"):
            patch = open(patch_file, "rb").read()
            want = {"From": "app-2.1.exe", "FromSize": "200000", "FromSha256": sha(old),
                    "Patch": "/pkg/app-2.1-to-2.2.patch", "PatchSize": str(len(patch)), "PatchSha256": sha(patch)}
            expect(out.startswith("[app-2.1-to-2.2.patch]\n") and keys(out) == want, f"patch section: {out!r}")
            expect(apply_patch(old, patch) == new, "the patch applied by the documented rules is not NEW")
            expect(len(patch) < len(zlib.compress(new, 9)) // 10, f"a patch of {len(patch)} bytes for a few edits")

        refused = os.path.join(work, "refused.patch")
        status, out, err = run("patch", local(files["app-2.1.exe"]), local(files["other.exe"]), "-o", local(refused))
        expect(status == 1 and "over half" in err and not out and not os.path.exists(refused),
               f"patch of unrelated files: {status} {out!r} {err!r}")
        status, _, err = run("patch", local(files["app-2.1.exe"]), local(files["app-2.2.exe"]))
        expect(status == 2 and "usage:" in err, f"patch without -o: {status} {err!r}")
        for target in ("app-2.1.exe", "app-2.2.exe"):
            status, _, err = run("patch", local(files["app-2.1.exe"]), local(files["app-2.2.exe"]),
                                 "-o", local(os.path.join(work, ".", target)))
            expect(status == 1 and "destroy" in err and open(files[target], "rb").read() == {"app-2.1.exe": old, "app-2.2.exe": new}[target],
                   f"patch -o {target}: {status} {err!r}")

        status, out, err = run("pack", local(files["text.txt"]))
        packed_file = files["text.txt"] + ".z"
        if expect(status == 0 and os.path.exists(packed_file), f"pack: {status} {err!r}"):
            packed = open(packed_file, "rb").read()
            expect(zlib.decompress(packed) == open(files["text.txt"], "rb").read(), "pack: does not inflate to FILE")
            want = {"Packed": "/text.txt.z", "PackedSize": str(len(packed)), "PackedSha256": sha(packed)}
            expect(keys(out) == want, f"pack keys: {out!r}")
        status, out, err = run("pack", local(files["other.exe"]))
        expect(status == 1 and "compressed already" in err and not os.path.exists(files["other.exe"] + ".z"),
               f"pack of random bytes: {status} {out!r} {err!r}")

        for number, (before, after, code) in enumerate(LINT_CASES):
            path = os.path.join(work, f"lint{number}.ini")
            assert before in DELTA_BASE
            with open(path, "w") as f:
                f.write(DELTA_BASE.replace(before, after, 1))
            status, out, err = run("lint", "--json", local(path))
            found = [f["code"] for f in json.loads(out or "{}").get("findings", [])] if out else []
            expect(code in found, f"lint {after!r}: wants {code}, got {found} {err!r}")
        status, out, _ = run("lint", "--json", local(write_file(os.path.join(work, "clean.ini"), DELTA_BASE)))
        expect(status == 0 and json.loads(out)["findings"] == [], f"lint of good delta keys: {out!r}")

        # More earlier packages than 4096 bytes hold patch sections for: the
        # largest patches are left out, and the rest are listed.
        many = os.path.join(work, "many")
        os.makedirs(many)
        base = rng.randbytes(20000)
        for i in range(24):
            write_file(os.path.join(many, f"{i}.exe"), base[:i * 700] + rng.randbytes(i * 40) + base[i * 700:])
        status, out, err = run("new", "--package", local(write_file(os.path.join(work, "n.exe"), base)) + ":9",
                               "--path-prefix", "/", "--patch-from", local(many))
        listed = next((line[8:].split(", ") for line in out.splitlines() if line.startswith("Patches=")), [])
        expect(status == 0 and len(out.encode()) <= 4096 and "left out: the manifest would be over 4096" in err and
               0 < len(listed) < 24 and listed[0] == "0-to-n.patch" and len(listed) == out.count("\nFrom="),
               f"new --patch-from over the limit: {status} {len(out)} {listed} {err[-300:]!r}")

        if args.server and args.check:
            publish(run, local, args, work, files, old, new, sha)

    return report()


if __name__ == "__main__":
    sys.exit(main())
