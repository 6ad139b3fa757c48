"""A sample update server for host tests: the standalone test HTTP server
serving a package and two manifests (good.ini offers it with its digest,
bad.ini with a wrong one)."""
import contextlib, hashlib, os, random, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from test_server import TestServer, refused_port  # noqa: E402

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
    with TestServer(server_program, root, work) as server:
        yield server.base


def closed_port_url():
    """A loopback URL on which nothing listens (connection refused)."""
    return f"http://127.0.0.1:{refused_port()}/good.ini"
