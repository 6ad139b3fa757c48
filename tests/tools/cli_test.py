#!/usr/bin/env python3
"""Runs marvostell-check (natively, or the Windows build under Wine) against the
standalone test server and checks what it tells people: exit statuses, the
diagnosis after each kind of result, progress when piped, --verbose steps,
and its conventions (usage errors, --version, --help and the man page)."""
import argparse, hashlib, os, random, re, shutil, subprocess, sys, tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from test_server import TestServer, refused_port  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--wine", help="run-wine, to run the Windows build")
    parser.add_argument("--man", help="the man page, checked against --help")
    parser.add_argument("cli")
    args = parser.parse_args()
    args.cli = os.path.abspath(args.cli)

    work = tempfile.mkdtemp(prefix="marvostell-cli-")
    server = None
    failures = []
    try:
        root = os.path.join(work, "root")
        os.makedirs(os.path.join(root, "pkg"))
        package = random.Random(5).randbytes(100000)
        with open(os.path.join(root, "pkg", "app.bin"), "wb") as f:
            f.write(package)
        digest = hashlib.md5(package).hexdigest().upper()
        entry = f"[General]\nupdate=app\n[app]\nversion=2\nPackage=/pkg/app.bin\n"
        manifests = {
            "good.ini": entry + f"PackageSize={len(package)}\nMd5={digest}\n",
            "bad.ini": entry + f"PackageSize={len(package)}\nMd5={'0' * 32}\n",
            "nosize.ini": entry + f"PackageSize=0\nMd5={digest}\n",
            # The package's section lies past the 4096 bytes a host reads.
            "long.ini": "[General]\nupdate=app\n;" + "x" * 5000 + "\n" +
                        entry.split("\n", 2)[2] + f"PackageSize={len(package)}\nMd5={digest}\n",
        }
        for name, text in manifests.items():
            with open(os.path.join(root, name), "w") as f:
                f.write(text)
        script = os.path.join(work, "server.script")
        with open(script, "w") as f:
            f.write("route /missing.ini\nstatus 404 Not Found\nheader Content-Type: text/html\n"
                    "body <html><head><title>404 Not Found</title></head>"
                    "<body><h1>404 Not Found</h1></body></html>\\r\\n\n"
                    "route /empty.ini\nbody \n")
        server = TestServer(args.server, root, work, script=script)
        port, base = server.port, server.base

        env = {k: v for k, v in os.environ.items()
               if k.lower() not in ("http_proxy", "all_proxy", "no_proxy")}
        prefix = [args.wine] if args.wine else []

        def local(path):
            return "Z:" + path.replace("/", "\\") if args.wine else path

        def run(arguments, extra_env=None, cwd=None):
            return subprocess.run(prefix + [args.cli] + arguments, env=dict(env, **(extra_env or {})),
                                  cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

        def check(name, arguments, status, texts, dir_name, extra_env=None):
            d = os.path.join(work, dir_name)
            os.makedirs(d, exist_ok=True)
            result = run(["--dir", local(d)] + arguments, extra_env)
            missing = [t for t in texts if t not in result.stdout]
            if result.returncode != status or missing:
                failures.append(f"{name}: exit {result.returncode} (want {status}), stdout "
                                f"{result.stdout!r} lacks {missing!r}; stderr {result.stderr[-300:]!r}")
            return result

        # A fresh download, piped: plain lines, one at most every 10 percent.
        first = check("download", ["--host-version", "1", base + "/good.ini"], 1,
                      ["downloaded and verified"], "a")
        percents = [int(m) for m in re.findall(r"^app\.bin: (\d+)% \(", first.stderr, re.M)]
        if ("\r" in first.stderr or not percents or percents[-1] != 100 or len(percents) > 10
                or any(b // 10 <= a // 10 for a, b in zip(percents, percents[1:]))):
            failures.append(f"download: progress lines {percents} in {first.stderr!r}")
        if f"Connecting to 127.0.0.1:{port}" not in first.stderr:
            failures.append(f"download: no 'Connecting to' line: {first.stderr!r}")
        again = check("complete package", ["--host-version", "1", base + "/good.ini"], 1,
                      ["already complete on disk: no bytes were fetched"], "a")
        if "%" in again.stderr:
            failures.append("complete package: progress shown for a package not fetched")

        # The check's steps from its events, in the order they happened.
        verbose = check("verbose", ["--verbose", "--quiet", "--host-version", "1",
                                    base + "/good.ini"], 1, ["downloaded and verified"], "v")
        want = [f"manifest request: /good.ini from 127.0.0.1:{port}",
                "package app",
                "  version=2 is 0x00000002, newer than the host's 0x00000001",
                "selected: app",
                f"package [app]: /pkg/app.bin to {local(os.path.join(work, 'v'))}",
                "package request: the bytes from 0 on",
                "package answer: status 20",  # 206 for the range from 0, or 200
                f"package transfer: {len(package)} bytes appended after 0",
                f"digest: MD5 {digest}, Md5 {digest}: they match"]
        lines = verbose.stderr.splitlines()
        found = [next((i for i, line in enumerate(lines) if line.startswith(w)), -1) for w in want]
        if -1 in found or found != sorted(found) or "%" in verbose.stderr:
            failures.append(f"verbose: steps {want} not all in order in {lines!r}")
        quiet = check("quiet", ["--quiet", "--host-version", "1", base + "/good.ini"], 1, [], "q")
        if quiet.stderr:
            failures.append(f"quiet: printed {quiet.stderr!r}")

        check("up to date", ["--host-version", "2", base + "/good.ini"], 0,
              ["up to date", "not newer than the host", "selected: none"], "b")
        check("404 manifest", [base + "/missing.ini"], 11,
              ["no usable manifest", "HTML page", "404 Not Found"], "m")
        check("cut manifest", ["--host-version", "1", base + "/long.ini"], 11,
              ["fills the 4096 bytes", "package app", "no version"], "l")
        check("empty manifest", [base + "/empty.ini"], 11, ["no usable manifest", "is empty"], "m")
        mismatch = check("digest mismatch", ["--host-version", "1", base + "/bad.ini"], 6,
                         ["expected MD5 (Md5): " + "0" * 32, "actual MD5:         " + digest,
                          f"file size:          {len(package)} bytes",
                          f"PackageSize:        {len(package)} bytes",
                          "rejected file:      " + local(os.path.join(work, "d", "app.bin.err"))],
                         "d")
        if not os.path.exists(os.path.join(work, "d", "app.bin.err")):
            failures.append(f"digest mismatch: no .err file where it says: {mismatch.stdout!r}")
        check("package entry", ["--host-version", "1", base + "/nosize.ini"], 5,
              ["package [app]: PackageSize=0"], "e")
        closed = refused_port()
        check("refused port", [f"http://127.0.0.1:{closed}/update.ini"], 9,
              ["ERROR_INTERNET_CANNOT_CONNECT", f"host 127.0.0.1, port {closed}",
               "proxy: none"], "r")
        # A stray proxy in the environment (libcurl, and Wine's WinINet, read it).
        check("stray proxy", [base + "/good.ini"], 9,
              [f"host 127.0.0.1, port {port}", f"proxy: http://127.0.0.1:{closed}"
               if not args.wine else f"proxy: 127.0.0.1:{closed}"], "p",
              {"http_proxy": f"http://127.0.0.1:{closed}"})
        check("bad URL", ["127.0.0.1"], 4, ["bad URL"], "c")
        if not args.wine:
            # Under a file-size limit the download fails as a local-file error
            # (exit 8): the program ignores SIGXFSZ, as the header asks of hosts.
            import resource
            d = os.path.join(work, "h")
            os.makedirs(d)
            limited = subprocess.run([args.cli, "--dir", d, "--host-version", "1", base + "/good.ini"],
                                     preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE,
                                                                           (20000, 20000)),
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            if limited.returncode != 8:
                failures.append(f"file-size limit: exit {limited.returncode} (want 8), "
                                f"stdout {limited.stdout!r}")

        for name, arguments, error in [
                ("no URL", [], "no manifest URL"),
                ("version not a number", ["--host-version", "abc", base + "/good.ini"],
                 "'abc' is not a number"),
                ("old --version N", ["--version", "1", base + "/good.ini"], "--host-version N"),
                ("version above 32 bits", ["--host-version", "0x1FFFFFFFF", base + "/good.ini"],
                 "not a number from 0 to 0xFFFFFFFF"),
                ("unknown option", ["--frob", base + "/good.ini"], "unknown option '--frob'")]:
            result = run(arguments)
            if result.returncode != 2 or error not in result.stderr or result.stdout:
                failures.append(f"usage, {name}: exit {result.returncode}, {result.stderr!r}")
        version = run(["--version"])
        if version.returncode != 0 or not re.search(r"^marvostell-check \d", version.stdout) \
                or "module file version" not in version.stdout:
            failures.append(f"--version: {version.stdout!r}")
        usage = run(["--help"])
        statuses = re.findall(r"^ +(\d+)  ", usage.stdout, re.M)
        if usage.returncode != 0 or statuses != [str(n) for n in range(12)]:
            failures.append(f"--help: exit statuses {statuses}")
        if args.man:
            page = open(args.man).read()
            undocumented = [s for s in statuses if f".TP\n.B {s}\n" not in page]
            if undocumented:
                failures.append(f"man page: exit statuses {undocumented} not documented")
        if not args.wine:
            # Without --dir the current directory must take the files.
            locked = os.path.join(work, "locked")
            os.makedirs(locked)
            os.chmod(locked, 0o555)
            for where in (locked, "/proc/self"):
                if not os.access(where, os.W_OK):
                    result = run([base + "/good.ini"], cwd=where)
                    if result.returncode != 2 or "--dir" not in result.stderr:
                        failures.append(f"unwritable directory: exit {result.returncode}, "
                                        f"{result.stderr!r}")
                    break
            os.chmod(locked, 0o755)
    finally:
        if server:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        sys.exit(1)
    print("marvostell-check: all checks passed")


if __name__ == "__main__":
    main()
