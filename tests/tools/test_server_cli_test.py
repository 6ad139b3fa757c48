#!/usr/bin/env python3
"""Runs marvostell-test-server with faults on its command line and checks the
exact bytes a client sees: a 404, a drop after N bytes (FIN or RST), a range
answered with 206 (under a drop too), an abort, a trickle, ranges off, a
script's route and a fault over it; its URL line, its request log, --help,
--version, and the exit statuses of usage errors and of SIGTERM."""
import argparse, os, random, re, signal, socket, subprocess, sys, tempfile, time

failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def fetch(port, path, headers=""):
    """One request on its own connection: (status, headers, body, error);
    error is "reset" when the connection ended with RST, else None."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n{headers}"
                  "Connection: close\r\n\r\n".encode())
        data, error = b"", None
        while True:
            try:
                piece = s.recv(65536)
            except ConnectionResetError:
                error = "reset"
                break
            if not piece:
                break
            data += piece
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1]) if lines[0] else 0
    fields = {k.lower(): v.strip() for k, _, v in (l.partition(":") for l in lines[1:])}
    return status, fields, body, error


def run(program, *args):
    return subprocess.run([program, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, timeout=30)


def conventions(program, man):
    result = run(program, "--help")
    expect(result.returncode == 0 and result.stdout.startswith("usage: marvostell-test-server"),
           f"--help: {result.returncode} {result.stdout[:80]!r}")
    for fault in ("status:CODE", "drop:N", "reset", "abort", "trickle:BYTES/MS", "delay:MS",
                  "wait:MS", "length:N", "ranges:off", "--root", "--port", "--script",
                  "--port-file", "--log", "--exit-after", "--make-certificates"):
        expect(fault in result.stdout, f"--help does not name {fault}")
    # The configured man page and the program give the same version.
    with open(man) as f:
        version = re.search(r'"Marvostell (\S+)"', f.read())
    result = run(program, "--version")
    expect(version is not None and result.returncode == 0 and
           result.stdout == f"marvostell-test-server {version.group(1)}\n",
           f"--version: {result.stdout!r}, man page {version and version.group(1)}")
    for args, status, words in [(["--bogus"], 2, "unknown option --bogus"),
                                (["--port"], 2, "--port needs a value"),
                                (["--port", "70000"], 2, "bad port 70000"),
                                (["--exit-after", "0"], 2, "bad number of seconds 0"),
                                (["--fault", "update.ini=status:404"], 2, "PATH starting with '/'"),
                                (["--fault", "/a=explode"], 2, "malformed fault 'explode'"),
                                (["--fault", "/a=trickle:10"], 2, "malformed fault 'trickle:10'"),
                                (["--tls-cert", "c.pem"], 2, "go together"),
                                (["--root", "/nonexistent/folder"], 1, "not a folder")]:
        result = run(program, *args)
        expect(result.returncode == status and words in result.stderr and result.stdout == "",
               f"{args}: exit {result.returncode}, stderr {result.stderr!r}")


def start(program, *args):
    server = subprocess.Popen([program, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True)
    url = server.stdout.readline()
    match = re.fullmatch(r"http://127\.0\.0\.1:(\d+)/\n", url)
    if not match:
        server.kill()
        raise SystemExit(f"FAIL: first line {url!r}, stderr {server.stderr.read()!r}")
    return server, int(match.group(1))


def stop(server):
    server.send_signal(signal.SIGTERM)
    _, log = server.communicate(timeout=10)
    expect(server.returncode == 0, f"exit {server.returncode} after SIGTERM")
    return log


def faults(program, work):
    root = os.path.join(work, "root")
    os.makedirs(os.path.join(root, "update"))
    os.makedirs(os.path.join(root, "pkg"))
    data = random.Random(22).randbytes(200000)
    for name in ("a.bin", "b.bin", "c.bin", "d.bin", "e.bin"):
        with open(os.path.join(root, "pkg", name), "wb") as f:
            f.write(data)
    with open(os.path.join(root, "pkg", "slow.bin"), "wb") as f:
        f.write(data[:50])
    with open(os.path.join(root, "update", "update.ini"), "wb") as f:
        f.write(b"[General]\r\n")
    script = os.path.join(work, "routes.txt")
    with open(script, "w") as f:
        f.write("route /scripted\nbody hello\\n\nroute /over\nbody hidden\n")

    server, port = start(program, "--root", root, "--script", script,
                         "--fault", "/update/update.ini=status:404",
                         "--fault", "/pkg/a.bin=drop:1000",
                         "--fault=/pkg/b.bin=drop:500,reset",
                         "--fault", "/pkg/d.bin=ranges:off", "--fault", "/pkg/d.bin=drop:10",
                         "--fault", "/pkg/slow.bin=trickle:10/200",
                         "--fault", "/abort=abort", "--fault", "/over=status:503",
                         "--fault", "/pkg/e.bin=header:X-Test: a, b")
    try:
        status, fields, body, _ = fetch(port, "/update/update.ini")
        expect((status, body) == (404, b"404 Not Found\n"), f"404: {status} {body!r}")

        status, fields, body, error = fetch(port, "/pkg/a.bin")
        expect(status == 200 and fields.get("content-length") == "200000" and
               body == data[:1000] and error is None, f"drop: {status} {len(body)} {error}")

        status, fields, body, error = fetch(port, "/pkg/a.bin", "Range: bytes=5000-\r\n")
        expect(status == 206 and fields.get("content-range") == "bytes 5000-199999/200000" and
               body == data[5000:6000], f"range under a drop: {status} {fields} {len(body)}")

        status, fields, body, _ = fetch(port, "/pkg/c.bin", "Range: bytes=100-199\r\n")
        expect(status == 206 and fields.get("content-range") == "bytes 100-199/200000" and
               body == data[100:200], f"range: {status} {fields} {len(body)}")

        status, _, body, error = fetch(port, "/pkg/b.bin")
        expect(status == 200 and error == "reset" and len(body) <= 500 and
               data.startswith(body), f"reset: {status} {len(body)} {error}")

        status, _, body, _ = fetch(port, "/pkg/d.bin", "Range: bytes=100-\r\n")
        expect(status == 200 and body == data[:10], f"ranges:off: {status} {body!r}")

        status, _, body, error = fetch(port, "/abort")
        expect((status, body, error) == (0, b"", None), f"abort: {status} {body!r} {error}")

        began = time.monotonic()
        status, _, body, _ = fetch(port, "/pkg/slow.bin")
        elapsed = time.monotonic() - began
        expect(status == 200 and body == data[:50] and elapsed >= 0.75,
               f"trickle: {status} {len(body)} in {elapsed:.2f} s")

        status, _, body, _ = fetch(port, "/scripted")
        expect((status, body) == (200, b"hello\n"), f"script: {status} {body!r}")
        status, _, body, _ = fetch(port, "/over")
        expect((status, body) == (503, b"503 Service Unavailable\n"),
               f"fault over the script: {status} {body!r}")
        status, _, _, _ = fetch(port, "/pkg/../update/update.ini")
        expect(status == 404, f"a path with '..': {status}")
        status, fields, body, _ = fetch(port, "/pkg/none.bin", "Range: bytes=2-\r\n")
        expect((status, body) == (404, b"not found\n") and "content-range" not in fields,
               f"a missing file asked with a range: {status} {body!r}")
        status, fields, body, _ = fetch(port, "/pkg/e.bin")
        expect(status == 200 and fields.get("x-test") == "a, b" and body == data,
               f"header: {status} {fields}")
    finally:
        log = stop(server)
    expect("GET /pkg/a.bin HTTP/1.1 (Range: bytes=5000-)\n" in log and
           "GET /update/update.ini HTTP/1.1\n" in log, f"request log: {log!r}")

    # --port, and --quiet.
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        wanted = probe.getsockname()[1]
    server, port = start(program, "--port", str(wanted), "--quiet", "--root", root)
    status, _, body, _ = fetch(port, "/pkg/c.bin")
    expect(port == wanted and status == 200 and body == data, f"--port {wanted}: {port} {status}")
    expect(stop(server) == "", "--quiet still logs")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--man", required=True)
    parser.add_argument("program")
    args = parser.parse_args()
    conventions(args.program, args.man)
    with tempfile.TemporaryDirectory() as work:
        faults(args.program, work)
    if failures:
        sys.exit(f"{len(failures)} failure(s)")
    print("ok")


if __name__ == "__main__":
    main()
