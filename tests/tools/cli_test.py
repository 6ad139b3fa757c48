#!/usr/bin/env python3
"""Runs the command-line host (natively, or the Windows one under Wine) against
the standalone test server: a download with a progress bar, a second check that
finds the package complete, up to date, a bad URL, and a digest mismatch, each
with its exit status and message."""
import argparse, hashlib, os, random, shutil, subprocess, sys, tempfile, time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--wine", help="run-wine, to run a Windows CLI")
    parser.add_argument("--dll-dir", help="directory of Marvostell.dll (Windows CLI)")
    parser.add_argument("cli")
    args = parser.parse_args()

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
        manifests = {
            "good.ini": f"[General]\nupdate=app\n[app]\nversion=2\nPackage=/pkg/app.bin\n"
                        f"PackageSize={len(package)}\nMd5={digest}\n",
            "bad.ini": f"[General]\nupdate=app\n[app]\nversion=2\nPackage=/pkg/app.bin\n"
                       f"PackageSize={len(package)}\nMd5={'0' * 32}\n",
        }
        for name, text in manifests.items():
            with open(os.path.join(root, name), "w") as f:
                f.write(text)
        port_file = os.path.join(work, "port")
        server = subprocess.Popen([args.server, "--root", root, "--port-file", port_file,
                                   "--exit-after", "120"])
        for _ in range(100):
            if os.path.exists(port_file) and open(port_file).read().strip():
                break
            time.sleep(0.05)
        base = f"http://127.0.0.1:{open(port_file).read().strip()}"

        env = dict(os.environ)
        prefix = []
        if args.wine:
            prefix = [args.wine]
            env["WINEPATH"] = "Z:" + args.dll_dir.replace("/", "\\")

        def local(path):
            return "Z:" + path.replace("/", "\\") if args.wine else path

        def check(name, arguments, status, text, dir_name):
            d = os.path.join(work, dir_name)
            os.makedirs(d, exist_ok=True)
            run = subprocess.run(prefix + [args.cli, "--dir", local(d)] + arguments, env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            if run.returncode != status or text not in run.stdout:
                failures.append(f"{name}: exit {run.returncode} (want {status}), "
                                f"stdout {run.stdout!r} (want {text!r}), stderr {run.stderr[-300:]!r}")
            return run

        first = check("download", ["--version", "1", base + "/good.ini"], 1,
                      "downloaded and verified", "a")
        if "100%" not in first.stderr:
            failures.append(f"download: no progress bar reaching 100%: {first.stderr[-200:]!r}")
        again = check("complete package", ["--version", "1", base + "/good.ini"], 1,
                      "downloaded and verified", "a")
        if "%" in again.stderr:
            failures.append("complete package: progress shown for a package not fetched")
        check("up to date", ["--version", "2", base + "/good.ini"], 0, "up to date", "b")
        check("bad URL", ["127.0.0.1"], 4, "bad URL", "c")
        check("digest mismatch", ["--version", "1", base + "/bad.ini"], 6, "MD5", "d")
        check("usage", [], 2, "", "e")
        check("version not a number", ["--version", "abc", base + "/good.ini"], 2, "", "f")
        # The module's 32-bit number rule on every platform: saturates at 0xFFFFFFFF.
        check("version above 32 bits", ["--version", "4294967296", base + "/good.ini"], 0,
              "up to date", "g")
        if not args.wine:
            # Under a file-size limit the download fails as a local-file error
            # (exit 8): the program ignores SIGXFSZ, as the header asks of hosts.
            import resource
            d = os.path.join(work, "h")
            os.makedirs(d)
            run = subprocess.run([args.cli, "--dir", d, "--version", "1", base + "/good.ini"],
                                 preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE,
                                                                       (20000, 20000)),
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            if run.returncode != 8:
                failures.append(f"file-size limit: exit {run.returncode} (want 8), "
                                f"stdout {run.stdout!r}")
    finally:
        if server:
            server.terminate()
            server.wait()
        shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        sys.exit(1)
    print("command-line host: all checks passed")


if __name__ == "__main__":
    main()
