#!/usr/bin/env python3
"""Runs an example host against the sample update server and checks what it
tells: a download whose progress reaches the host, a host that is up to
date, a package that fails its digest and a server that refuses the
connection. --kind linux runs examples/linux-host natively; --kind gui runs
examples/win32-gui under Wine (through run-wine) in its --exit-when-done mode."""
import argparse, hashlib, os, re, subprocess, sys, tempfile

import update_server

# name, manifest, host version, exit status, words (linux, gui), package kept
CASES = [
    ("download", "good.ini", 1, 0,
     ("Update downloaded and verified", "Update ready: app.bin"), True),
    ("up to date", "good.ini", 2, 0, ("Up to date", "Up to date."), False),
    ("digest mismatch", "bad.ini", 1, 1, ("does not match its MD5", "Download corrupt (MD5)."), False),
    ("connection refused", None, 1, 1,
     ("manifest cannot be fetched (error 12029)", "Cannot reach the server (12029)."), False),
]


def progress_seen(kind, run):
    """The progress values the host showed, in order."""
    if kind == "linux":
        return [int(v) for v in re.findall(r"progress (\d+)%", run.stderr)]
    bar = re.search(r"^bar=(\d+)$", run.stdout, re.M)
    messages = re.search(r"^messages=(\d+)$", run.stdout, re.M)
    if not bar or not messages or int(messages.group(1)) == 0:
        return []
    return [int(bar.group(1))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--kind", choices=("linux", "gui"), required=True)
    parser.add_argument("--wine", help="run-wine, for the Windows host")
    parser.add_argument("--env", action="append", default=[], help="NAME=VALUE for the host")
    parser.add_argument("host")
    args = parser.parse_args()

    env = dict(os.environ)
    env.update(item.split("=", 1) for item in args.env)
    failures = []
    with tempfile.TemporaryDirectory(prefix="marvostell-host-") as work, \
            update_server.serve(args.server, work) as base:
        for number, (name, manifest, version, status, words, kept) in enumerate(CASES):
            local = os.path.join(work, f"client{number}")
            os.makedirs(local)
            url = f"{base}/{manifest}" if manifest else update_server.closed_port_url()
            if args.kind == "gui":
                command = [args.wine, args.host, "--exit-when-done", url,
                           "Z:" + local.replace("/", "\\"), str(version)]
            else:
                command = [args.host, url, local, str(version)]
            run = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 text=True, timeout=120)
            said = words[0 if args.kind == "linux" else 1]
            problems = []
            if run.returncode != status:
                problems.append(f"exit {run.returncode}, want {status}")
            if said not in run.stdout:
                problems.append(f"does not say {said!r}")
            progress = progress_seen(args.kind, run)
            package = os.path.join(local, "app.bin")
            if kept:
                if not progress or progress[-1] != 100 or progress != sorted(progress):
                    problems.append(f"progress {progress}, want rising to 100")
                if not os.path.exists(package) or \
                        hashlib.md5(open(package, "rb").read()).hexdigest().upper() != \
                        update_server.PACKAGE_MD5:
                    problems.append("package missing or not the served bytes")
            elif os.path.exists(package):
                problems.append("a package was left under its name")
            if problems:
                failures.append(f"{name}: {'; '.join(problems)}\n  stdout: {run.stdout!r}\n"
                                f"  stderr: {run.stderr[-400:]!r}")
    for failure in failures:
        print("FAIL", failure)
    if failures:
        sys.exit(1)
    print(f"{args.kind} host: {len(CASES)} cases passed")


if __name__ == "__main__":
    main()
