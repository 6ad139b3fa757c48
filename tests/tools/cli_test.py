#!/usr/bin/env python3
"""Runs marvostell-check (natively, or the Windows build under Wine) against the
standalone test server and checks what it tells people: exit statuses, the
diagnosis after each kind of result, progress when piped, --verbose steps,
its CheckNewVersionEx options (--ex, --check-only, --deadline, --stall,
--user-agent, --https), and its conventions (usage errors, --version, --help
and the man page). Ctrl-C is tested natively only: a Windows console program
under Wine has no console to send it to."""
import argparse, hashlib, json, os, random, re, shutil, signal, socket, subprocess, sys, tempfile, \
    threading, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from openssl_signer import OpensslSigner  # noqa: E402
from test_server import TestServer, refused_port  # noqa: E402


def plain_http_port(status=b"400 Bad Request"):
    """A loopback port whose server answers anything, a TLS handshake
    included, with a plain HTTP 400 (or `status`) and closes, as web servers do."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen()

    def answer():
        while True:
            connection, _ = listener.accept()
            with connection:
                connection.settimeout(5)
                try:
                    connection.recv(4096)
                    connection.sendall(b"HTTP/1.1 " + status + b"\r\nContent-Length: 0\r\n"
                                       b"Connection: close\r\n\r\n")
                except OSError:
                    pass
    threading.Thread(target=answer, daemon=True).start()
    return listener.getsockname()[1]


def check_ex(check, server, local, work, size, failures, wine):
    """The CheckNewVersionEx options: each outcome, its exit status and words,
    and what stays in the directory."""
    base = server.base
    slow = "3" if wine else "1"  # Wine ends a stalled wait only at the stall limit
    # name, arguments, exit status, words, directory, {file: size or None for absent}
    cases = [
        ("check only", ["--check-only", "--host-version", "1", base + "/good.ini"], 12,
         ["available: a newer package is offered",
          f"offered: [app] version 0x00000002, {size} bytes"], "x1", {"app.bin": None}),
        # The package downloaded earlier into "a" is complete and verified.
        ("check only, complete", ["--check-only", "--host-version", "1", base + "/good.ini"], 1,
         ["already complete on disk"], "a", {"app.bin": size}),
        ("manifest status", ["--ex", base + "/missing.ini"], 13,
         ["manifest request with HTTP status 404", "(update.ini is left as it was)"], "x2",
         {"update.ini": None}),
        ("not a manifest", ["--ex", base + "/page.ini"], 11,
         ["error 9: the server's answer is not a manifest", "HTML page", "Welcome"], "x3", {}),
        ("package status", ["--ex", "--host-version", "1", base + "/gone.ini"], 13,
         ["package request with HTTP status 403; 0 bytes kept", "path /pkg/gone.bin"], "x4",
         {"gone.bin": None}),
        ("dropped", ["--ex", "--host-version", "1", base + "/drop.ini"], 9,
         ["the transfer ended early; 30000 bytes kept for the next check",
          "partial package: " + local(os.path.join(work, "x5", "drop.bin")) +
          f", 30000 of {size} bytes"], "x5", {"drop.bin": 30000, "drop.bin.err": None}),
        ("stalled", ["--stall", slow, "--host-version", "1", base + "/stall.ini"], 9,
         ["the transfer stalled", "32768 bytes kept"], "x6", {"stall.bin": 32768}),
        ("deadline", ["--deadline", "1", "--stall", slow, "--host-version", "1",
                      base + "/stall.ini"], 14,
         ["the deadline passed; 32768 bytes kept"], "x7", {"stall.bin": 32768}),
        ("line break in the User-Agent", ["--user-agent", "x\r\nX-Extra: 1", base + "/good.ini"],
         2, ["error 87", "line break"], "x8", {"update.ini": None}),
        # TLS to a server that speaks plain HTTP fails; its answer is never
        # read as HTTP.
        ("https to plain HTTP", ["--https", f"https://127.0.0.1:{plain_http_port()}/good.ini"], 9,
         ["Internet error"], "x9", {"update.ini": None}),
    ]
    for name, arguments, status, words, dir_name, files in cases:
        check(name, arguments, status, words, dir_name)
        for file_name, want in files.items():
            path = os.path.join(work, dir_name, file_name)
            got = os.path.getsize(path) if os.path.exists(path) else None
            if got != want:
                failures.append(f"{name}: {file_name} holds {got} bytes, want {want}")

    before = server.requests().count("User-Agent: marvostell-test/1.0 (cli)")
    check("User-Agent", ["--user-agent", "marvostell-test/1.0 (cli)", "--host-version", "1",
                         base + "/good.ini"], 1, ["downloaded and verified"], "x10")
    sent = server.requests().count("User-Agent: marvostell-test/1.0 (cli)") - before
    if sent != 2:
        failures.append(f"User-Agent: sent with {sent} requests, want 2 (manifest, package)")
    if "X-Extra" in server.requests():
        failures.append("User-Agent: a line break went on the wire")


def check_json(run, base, local, work, size, digest, failures):
    """--json: one object on standard output, nothing else there, for each
    kind of outcome; the fields each outcome reaches, the others null."""
    app = {"section": "app", "version": "0x00000002", "size": size, "staged": False, "display_version": None,
           "notes_url": None, "critical": False}
    err = local(os.path.join(work, "j3", "app.bin.err"))
    # name, arguments, exit status, fields expected
    cases = [
        ("updated", ["--host-version", "1", base + "/good.ini"], 1,
         {"result": 1, "result_name": "MARVOSTELL_UPDATED", "package": app, "range_start": 0,
          "bytes_received": size, "digests": None, "err_path": None, "manifest_status": 200,
          "proxy": None}),
        ("up to date", ["--ex", "--host-version", "2", base + "/good.ini"], 0,
         {"result": 0, "result_name": "MARVOSTELL_UP_TO_DATE", "manifest_status": 200,
          "package": None, "range_start": None, "bytes_received": None}),
        ("mismatch", ["--host-version", "1", base + "/bad.ini"], 6,
         {"result": 6, "result_name": "MARVOSTELL_ERR_DIGEST_MISMATCH", "package": app,
          "digests": {"expected_md5": "0" * 32, "computed_md5": digest, "expected_sha256": None,
                      "computed_sha256": None}, "err_path": err, "bytes_received": size}),
        ("404 manifest", ["--ex", base + "/missing.ini"], 13,
         {"result": 404, "result_name": "HTTP_STATUS", "manifest_status": 404, "package": None}),
        # CheckNewVersion's rules store the page, and the status is still told.
        ("404 manifest, stored", [base + "/missing.ini"], 11,
         {"result": 0, "manifest_status": 404, "package": None}),
        ("dropped", ["--ex", "--host-version", "1", base + "/drop.ini"], 9,
         {"result": 0x80000000 - 2**32 + 12030, "result_name": "ERROR_INTERNET_CONNECTION_ABORTED",
          "package_status": 206, "range_start": 0, "bytes_received": 30000,
          "digests": None}),
    ]
    for n, (name, arguments, status, want) in enumerate(cases, 1):
        d = os.path.join(work, f"j{n}")
        os.makedirs(d)
        result = run(["--json", "--dir", local(d)] + arguments)
        try:
            got = json.loads(result.stdout)
        except ValueError:
            failures.append(f"--json, {name}: not one JSON object: {result.stdout!r}")
            continue
        wrong = {k: got.get(k, "(absent)") for k, v in want.items() if got.get(k, "(absent)") != v}
        if result.returncode != status or got.get("exit_status") != status or wrong or \
                not isinstance(got.get("elapsed_seconds"), float) or not got.get("message"):
            failures.append(f"--json, {name}: exit {result.returncode} (want {status}), "
                            f"fields {wrong} differ from {want}; {result.stdout!r}")


def bucket(identity, section):
    """A host's bucket for a staged package, by the rule (not the module's code)."""
    digest = hashlib.sha256(b"rollout\0" + identity.encode() + b"\0" + section.encode()).digest()
    return int.from_bytes(digest[:4], "big") % 10000


def check_staged(run, base, local, work, size, failures):
    """--json with a staged release: this machine's bucket from DIR/host.id,
    the package it gets, and what the manifest tells people of it."""
    staged = {"section": "next", "version": "0x00000003", "size": size, "staged": True,
              "display_version": "3.0 beta", "notes_url": "https://example.com/3.0", "critical": True}
    # identity in host.id (None: none yet), extra arguments, the package wanted
    for n, (identity, extra, section) in enumerate([
            ("39f5c88e2d94628bb64ba4fd98e616ec", [], "next"),       # bucket 2294
            ("8bb01460217f871cbe0ae8fa1ceac2cc", [], "app"),        # bucket 4401
            ("8bb01460217f871cbe0ae8fa1ceac2cc", ["--ignore-rollout"], "next"),
            (None, [], None)], 1):
        d = os.path.join(work, f"staged{n}")
        os.makedirs(d)
        if identity:
            with open(os.path.join(d, "host.id"), "w") as f:
                f.write(identity + "\n")
        result = run(["--json", "--ex", "--check-only", "--host-version", "1", "--dir", local(d)] + extra +
                     [base + "/staged.ini"])
        got = json.loads(result.stdout) if result.stdout.startswith("{") else {}
        made = open(os.path.join(d, "host.id")).read() if os.path.exists(os.path.join(d, "host.id")) else ""
        identity = identity or made.strip()
        # --ignore-rollout asks for no bucket.
        rollouts = [{"section": "next", "rollout": 44, "bucket": None if extra else bucket(identity, "next"),
                     "admitted": bool(extra) or bucket(identity, "next") < 4400}]
        wanted = section or ("next" if rollouts[0]["admitted"] else "app")
        package = got.get("package") or {}
        if result.returncode != 12 or got.get("rollouts") != rollouts or package.get("section") != wanted or \
                (wanted == "next" and package != staged) or not re.fullmatch(r"[0-9a-f]{32}\n", made):
            failures.append(f"staged {n}: exit {result.returncode}, host.id {made!r}, {result.stdout!r}")


def check_signed(check, run, local, base, work, keys, failures):
    """--trusted-key and --trusted-keys-file, the words for each refusal, and
    the reason --json gives for result 7 (null for any other)."""
    publisher, stranger = keys
    keys_file = os.path.join(work, "keys.txt")
    with open(keys_file, "w") as f:
        f.write(f"# the keys of this test\n{stranger}\n{publisher}\n")
    cases = [
        ("signed", ["--trusted-key", publisher, base + "/signed.ini"], 1,
         ["downloaded and verified"], "s1", None),
        ("keys from a file", ["--trusted-keys-file", keys_file, base + "/signed.ini"], 1,
         ["downloaded and verified"], "s2", None),
        ("unsigned", ["--trusted-key", publisher, base + "/good256.ini"], 15,
         ["error 7", "no signature"], "s3", "missing"),
        ("another key", ["--trusted-key", stranger, base + "/signed.ini"], 15,
         ["changed after signing, or it was signed by a key that is not trusted"], "s4",
         "no_key_matches"),
        ("expired", ["--trusted-key", publisher, base + "/expired.ini"], 15,
         ["expired on 2001-02-03"], "s5", "expired"),
        ("malformed key", ["--trusted-key", "not-a-key", base + "/signed.ini"], 2,
         ["error 87"], "s6", None),
    ]
    for name, arguments, status, words, dir_name, reason in cases:
        check(name, ["--host-version", "1"] + arguments, status, words, dir_name)
        d = os.path.join(work, dir_name + "-json")
        os.makedirs(d)
        result = run(["--json", "--dir", local(d), "--host-version", "1"] + arguments)
        try:
            got = json.loads(result.stdout).get("reason", "(absent)")
        except ValueError:
            got = result.stdout
        if got != reason:
            failures.append(f"--json, {name}: reason {got!r}, want {reason!r}")


def check_interrupt(cli, base, work, failures):
    """Ctrl-C while the package stalls, under both exports' rules: the message,
    status 130, the partial package kept (never .err), and soon."""
    for name, rules in (("CheckNewVersionEx", ["--ex"]), ("CheckNewVersion", [])):
        d = os.path.join(work, "int-" + name)
        os.makedirs(d)
        partial = os.path.join(d, "stall.bin")
        process = subprocess.Popen([cli, "--dir", d, "--host-version", "1"] + rules +
                                   [base + "/stall.ini"], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and process.poll() is None and \
                (not os.path.exists(partial) or os.path.getsize(partial) < 32768):
            time.sleep(0.05)
        sent = time.monotonic()
        process.send_signal(signal.SIGINT)
        try:
            out, err = process.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            out, err = process.communicate()
        took = time.monotonic() - sent
        want = "cancelled; 32768 bytes kept for the next check"
        size = os.path.getsize(partial) if os.path.exists(partial) else None
        if process.returncode != 130 or not out.startswith(want) or size != 32768 or \
                os.path.exists(partial + ".err") or took > 3:
            failures.append(f"Ctrl-C, {name}: exit {process.returncode} after {took:.1f} s, "
                            f"{size} bytes kept, stdout {out!r}, stderr {err[-300:]!r}")


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
        # The same package from routes that break off: dropped after 30000
        # bytes, stalled after 32768 (whole reads of 8192 bytes), or refused.
        for name in ("drop", "stall", "gone", "lost"):
            manifests[f"{name}.ini"] = manifests["good.ini"].replace("/pkg/app.bin",
                                                                     f"/pkg/{name}.bin")
        # Signed by a key the openssl command line made, with the Sha256
        # that hosts passing keys need.
        sha256 = hashlib.sha256(package).hexdigest()
        signer = OpensslSigner(work, "publisher")
        publisher, stranger = signer.public, OpensslSigner(work, "stranger").public
        manifests["good256.ini"] = manifests["good.ini"] + f"Sha256={sha256}\n"
        manifests["staged.ini"] = (manifests["good.ini"].replace("update=app\n", "update=app\nstaged=next\n") +
                                   manifests["good.ini"].split("\n", 2)[2].replace("[app]", "[next]")
                                   .replace("version=2", "version=3") + "Rollout=44\nDisplayVersion=3.0 beta\n"
                                   "Notes=https://example.com/3.0\nCritical=1\n")
        manifests["signed.ini"] = signer.sign(manifests["good256.ini"])
        manifests["expired.ini"] = signer.sign(
            manifests["good256.ini"].replace("update=app\n", "update=app\nExpires=2001-02-03\n"))
        for name, text in manifests.items():
            with open(os.path.join(root, name), "w", newline="") as f:
                f.write(text)
        script = os.path.join(work, "server.script")
        with open(script, "w") as f:
            f.write("route /missing.ini\nstatus 404 Not Found\nheader Content-Type: text/html\n"
                    "body <html><head><title>404 Not Found</title></head>"
                    "<body><h1>404 Not Found</h1></body></html>\\r\\n\n"
                    "route /empty.ini\nbody \n"
                    "route /page.ini\nheader Content-Type: text/html\n"
                    "body <html><head><title>Welcome</title></head></html>\\r\\n\n"
                    f"route /pkg/drop.bin\nbody-file {root}/pkg/app.bin\ndrop 30000\n"
                    "route /pkg/lost.bin\nstatus 404 Not Found\nbody gone\n"
                    f"route /pkg/stall.bin\nbody-file {root}/pkg/app.bin\ntrickle 32768 600000\n"
                    "route /pkg/gone.bin\nstatus 403 Forbidden\nbody no\n")
        server = TestServer(args.server, root, work, script=script,
                            log=os.path.join(work, "requests.log"))
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
        # CheckNewVersion's rules save the error page as the package.
        check("package 404", ["--host-version", "1", base + "/lost.ini"], 6,
              ["answered the package request with HTTP status 404 (path /pkg/lost.bin)"], "k")
        asking = f"127.0.0.1:{plain_http_port(b'407 Proxy Authentication Required')}"
        check("proxy asks", [base + "/good.ini"], 7,
              ["error 407", "the proxy that asked for authentication: " +
               (asking if args.wine else "http://" + asking)], "pa",
              {"http_proxy": "http://" + asking})
        if not args.wine:
            # libcurl ignores the upper-case name; Wine's WinINet has its own rules.
            check("upper-case proxy", [f"http://127.0.0.1:{closed}/update.ini"], 9,
                  [f"HTTP_PROXY=http://{asking} is set, but ignored", "http_proxy in lower case"],
                  "pu", {"HTTP_PROXY": "http://" + asking})
        # The defaults, said on standard error.
        d = os.path.join(work, "defaults")
        os.makedirs(d)
        defaults = run(["--check-only", base + "/good.ini"], cwd=d)
        if defaults.returncode != 12 or "no --host-version: checking as host version 0" not in \
                defaults.stderr or "no --dir: update.ini and the package go to the current " \
                "directory" not in defaults.stderr:
            failures.append(f"defaults: exit {defaults.returncode}, stderr {defaults.stderr!r}")
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

        check_ex(check, server, local, work, len(package), failures, args.wine)
        check_json(run, base, local, work, len(package), digest, failures)
        check_staged(run, base, local, work, len(package), failures)
        check_signed(check, run, local, base, work, (publisher, stranger), failures)
        if not args.wine:
            check_interrupt(args.cli, base, work, failures)

        for name, arguments, error in [
                ("no URL", [], "no manifest URL"),
                ("deadline of 0", ["--deadline", "0", base + "/good.ini"], "--deadline: '0'"),
                ("stall not a number", ["--stall", "1s", base + "/good.ini"], "--stall: '1s'"),
                ("deadline past a day", ["--deadline", "86401", base + "/good.ini"], "to 86400"),
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
        if usage.returncode != 0 or statuses != [str(n) for n in range(16)] + ["130"]:
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
