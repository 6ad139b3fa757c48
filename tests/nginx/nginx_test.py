#!/usr/bin/env python3
"""Runs marvostell-check against nginx serving a manifest and a package from a
root directory of its own on a loopback port: a fresh download, then a resume
of a partial file with a byte range."""
import argparse, hashlib, os, random, shutil, socket, subprocess, sys, tempfile, time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nginx", required=True)
    parser.add_argument("--check", required=True)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="marvostell-nginx-")
    nginx = None
    try:
        root = os.path.join(work, "root")
        os.makedirs(os.path.join(root, "update"))
        os.makedirs(os.path.join(root, "pkg"))
        os.makedirs(os.path.join(work, "logs"))
        package = random.Random(3).randbytes(1 << 20)
        with open(os.path.join(root, "pkg", "app.bin"), "wb") as f:
            f.write(package)
        with open(os.path.join(root, "update", "update.ini"), "w") as f:
            f.write("[General]\nupdate=app\n[app]\nversion=2\nPackage=/pkg/app.bin\n"
                    f"PackageSize={len(package)}\nMd5={hashlib.md5(package).hexdigest().upper()}\n")
        port = free_port()
        access_log = os.path.join(work, "logs", "access.log")
        with open(os.path.join(work, "nginx.conf"), "w") as f:
            f.write(f"""
daemon off;
master_process off;
pid {work}/nginx.pid;
error_log {work}/logs/error.log;
events {{ worker_connections 16; }}
http {{
    log_format ranges '$request $status $body_bytes_sent "$http_range"';
    access_log {access_log} ranges;
    client_body_temp_path {work}/tmp;
    proxy_temp_path {work}/tmp;
    fastcgi_temp_path {work}/tmp;
    uwsgi_temp_path {work}/tmp;
    scgi_temp_path {work}/tmp;
    server {{
        listen 127.0.0.1:{port};
        root {root};
    }}
}}
""")
        nginx = subprocess.Popen([args.nginx, "-p", work, "-c", os.path.join(work, "nginx.conf")])
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        else:
            fail("nginx did not start")

        client = os.path.join(work, "client")
        os.makedirs(client)
        url = f"http://127.0.0.1:{port}/update/update.ini"
        local = os.path.join(client, "app.bin")

        def check(step):
            run = subprocess.run([args.check, "--quiet", "--dir", client, url],
                                 stdout=subprocess.PIPE, text=True)
            if run.returncode != 1:
                fail(f"{step}: exit status {run.returncode}: {run.stdout.strip()}")
            with open(local, "rb") as f:
                if f.read() != package:
                    fail(f"{step}: the local package differs from the served one")
            time.sleep(0.2)  # let nginx write its log line
            with open(access_log) as f:
                return f.read().splitlines()[-1]

        last = check("fresh download")
        if last != f'GET /pkg/app.bin HTTP/1.1 206 {len(package)} "bytes=0-"':
            fail(f"fresh download: unexpected request {last!r}")

        with open(local, "r+b") as f:
            f.truncate(400000)
        last = check("resume")
        if last != f'GET /pkg/app.bin HTTP/1.1 206 {len(package) - 400000} "bytes=400000-"':
            fail(f"resume: unexpected request {last!r}")
        print("nginx: fresh download and resume passed")
    finally:
        if nginx:
            nginx.terminate()
            nginx.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
