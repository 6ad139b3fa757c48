#!/usr/bin/env python3
"""marvostell-manifest patch and pack (natively, or the Windows one under
Wine): a patch applied here by docs/patch-format.md's rules makes NEW, a packed
file inflates to FILE, the printed keys name the files' sizes and digests, and
what would not pay (a patch over half the packed package, a file that does not
shrink) is refused with nothing written."""
import argparse, hashlib, os, random, struct, subprocess, sys, tempfile, zlib

failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)
    return condition


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


def keys(text):
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", help="run-wine, to run Windows programs")
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

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
