"""A sample update server for host tests: the standalone test HTTP server
serving a package and two manifests (good.ini offers it with its digest,
bad.ini with a wrong one)."""
import contextlib, hashlib, os, random, socket, subprocess, time

PACKAGE = random.Random(13).randbytes(300000)
PACKAGE_MD5 = hashlib.md5(PACKAGE).hexdigest().upper()


def manifest(md5):
    return (f"[General]\nupdate=app\n[app]\nversion=2\nPackage=/pkg/app.bin\n"
            f"PackageSize={len(PACKAGE)}\nMd5={md5}\n")


@contextlib.contextmanager
def serve(server_program, work):
    """Yields the base URL of a server whose root lives under work."""
    root = os.path.join(work, "server-root")
    os.makedirs(os.path.join(root, "pkg"), exist_ok=True)
    with open(os.path.join(root, "pkg", "app.bin"), "wb") as f:
        f.write(PACKAGE)
    for name, md5 in (("good.ini", PACKAGE_MD5), ("bad.ini", "0" * 32)):
        with open(os.path.join(root, name), "w") as f:
            f.write(manifest(md5))
    port_file = os.path.join(work, "server-port")
    # --exit-after only ends a server whose test died; the test stops it itself,
    # however slowly the programs run (an emulated machine is many times slower).
    server = subprocess.Popen([server_program, "--root", root, "--port-file", port_file,
                               "--exit-after", "3600"])
    try:
        for _ in range(200):
            if os.path.exists(port_file) and open(port_file).read().strip():
                break
            if server.poll() is not None:
                raise RuntimeError("the test server did not start")
            time.sleep(0.05)
        yield f"http://127.0.0.1:{open(port_file).read().strip()}"
    finally:
        server.terminate()
        server.wait()


def closed_port_url():
    """A loopback URL on which nothing listens (connection refused)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    return f"http://127.0.0.1:{port}/good.ini"
