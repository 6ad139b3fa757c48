#!/usr/bin/env python3
"""Runs an example host against the sample update server and checks what it
tells: a download whose progress reaches the host, a host that is up to
date, a package that fails its digest, a server that refuses the
connection, and a download cancelled half-way. --kind linux runs
examples/linux-host natively (cancelled with SIGINT while the package
stalls); --kind csharp builds examples/csharp with Mono, checks its
structures' layout against the C header's, and runs it as the Linux host
(cancelled through its --cancel-at, since Mono hears no SIGINT without a
terminal);
--kind gui runs examples/win32-gui under Wine (through run-wine) in its
--exit-when-done mode (its Cancel button pressed at 10 percent), with
manifests signed by a key it is given, and its result text that fits."""
import argparse, glob, hashlib, os, re, shutil, signal, subprocess, sys, tempfile, time

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
    if kind != "gui":
        return [int(v) for v in re.findall(r"progress (\d+)%", run.stderr)]
    bar = re.search(r"^bar=(\d+)$", run.stdout, re.M)
    messages = re.search(r"^messages=(\d+)$", run.stdout, re.M)
    if not bar or not messages or int(messages.group(1)) == 0:
        return []
    return [int(bar.group(1))]


def cancel(kind, command, local, env):
    """Cancels a download half-way; the problems found."""
    if kind != "linux":
        name = "slow.bin" if kind == "gui" else "stall.bin"
        run = subprocess.run(command[:2] + ["--cancel-at", "10"] + command[2:], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
        status, said = (1, "text=Cancelled.") if kind == "gui" else \
            (130, "Cancelled; the next check resumes the download.")
        if kind == "gui" and "fits=1" not in run.stdout:
            return [f"the result text does not fit its label: {run.stdout!r}"], run
    else:
        name = "stall.bin"
        partial = os.path.join(local, name)
        process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and process.poll() is None and \
                (not os.path.exists(partial) or os.path.getsize(partial) < 32768):
            time.sleep(0.05)
        process.send_signal(signal.SIGINT)
        try:
            out, err = process.communicate(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            out, err = process.communicate()
        run = subprocess.CompletedProcess(command, process.returncode, out, err)
        status, said = 130, "Cancelled; the next check resumes the download."
    problems = []
    if run.returncode != status:
        problems.append(f"exit {run.returncode}, want {status}")
    if said not in run.stdout:
        problems.append(f"does not say {said!r}")
    kept = os.path.join(local, name)
    size = os.path.getsize(kept) if os.path.exists(kept) else 0
    if not 0 < size < len(update_server.PACKAGE) or os.path.exists(kept + ".err"):
        problems.append(f"{size} bytes kept, want a partial package and no .err")
    return problems, run


def csharp_host(args, work):
    """The C# example built with Mono, its layout checked: the command that
    runs it, or None after a failure printed."""
    if not shutil.which("mcs") or not shutil.which("mono"):
        print("skipped: Mono (mcs, mono) is not installed")
        sys.exit(77)
    program = os.path.join(work, "MarvostellHost.exe")
    subprocess.run(["mcs", "-warnaserror+", "-out:" + program] +
                   sorted(glob.glob(os.path.join(args.host, "*.cs"))), check=True)
    shutil.copy(os.path.join(args.host, "MarvostellHost.exe.config"), work)
    layout = subprocess.run(["mono", program, "--layout"], stdout=subprocess.PIPE, text=True)
    want = subprocess.run([args.layout_reference], stdout=subprocess.PIPE, text=True).stdout
    if layout.returncode != 0 or layout.stdout != want:
        print(f"FAIL layout: C# marshals\n{layout.stdout}the header has\n{want}")
        return None
    return ["mono", program]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--kind", choices=("linux", "gui", "csharp"), required=True)
    parser.add_argument("--wine", help="run-wine, for the Windows host")
    parser.add_argument("--manifest-tool", help="marvostell-manifest, to sign for the GUI host")
    parser.add_argument("--layout-reference", help="the C structures' layout program (csharp)")
    parser.add_argument("--env", action="append", default=[], help="NAME=VALUE for the host")
    parser.add_argument("host")
    args = parser.parse_args()

    env = dict(os.environ)
    env.update(item.split("=", 1) for item in args.env)
    failures = []
    with tempfile.TemporaryDirectory(prefix="marvostell-host-") as work, \
            update_server.serve(args.server, work, args.manifest_tool) as base:
        host = [args.host]
        if args.kind == "gui":
            with open(os.path.join(work, "publisher.pub")) as f:
                host = [args.wine, args.host, "--exit-when-done", "--trusted-keys", f.read()]
        elif args.kind == "csharp":
            host = csharp_host(args, work)
            if host is None:
                sys.exit(1)
        local = os.path.join(work, "cancelled")
        os.makedirs(local)
        manifest = "slow.ini" if args.kind == "gui" else "stall.ini"
        if args.kind == "gui":
            command = host + [f"{base}/{manifest}", "Z:" + local.replace("/", "\\"), "1"]
        else:
            command = host + [f"{base}/{manifest}", local, "1"]
        problems, run = cancel(args.kind, command, local, env)
        if problems:
            failures.append(f"cancel: {'; '.join(problems)}\n  stdout: {run.stdout!r}\n"
                            f"  stderr: {run.stderr[-400:]!r}")
        for number, (name, manifest, version, status, words, kept) in enumerate(CASES):
            local = os.path.join(work, f"client{number}")
            os.makedirs(local)
            url = f"{base}/{manifest}" if manifest else update_server.closed_port_url()
            if args.kind == "gui":
                command = host + [url, "Z:" + local.replace("/", "\\"), str(version)]
            else:
                command = host + [url, local, str(version)]
            run = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 text=True, timeout=120)
            said = words[1 if args.kind == "gui" else 0]
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
    print(f"{args.kind} host: {len(CASES) + 1} cases passed")


if __name__ == "__main__":
    main()
