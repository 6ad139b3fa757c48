"""A sample update server for host tests: the standalone test HTTP server
serving a package and manifests: good.ini offers it with its digest, bad.ini
with a wrong one; stall.ini offers it from a route that stalls after 32768
bytes, slow.ini from one that sends 8192 bytes every 200 ms. Given
marvostell-manifest, serve() signs each manifest with a key of its own and
leaves the public key in <work>/publisher.pub."""
import contextlib, hashlib, os, random, subprocess, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from test_server import TestServer, refused_port  # noqa: E402

PACKAGE = random.Random(13).randbytes(300000)
PACKAGE_MD5 = hashlib.md5(PACKAGE).hexdigest().upper()
PACKAGE_SHA256 = hashlib.sha256(PACKAGE).hexdigest()


def manifest(md5, package="/pkg/app.bin"):
    return (f"[General]\nupdate=app\n[app]\nversion=2\nPackage={package}\n"
            f"PackageSize={len(PACKAGE)}\nMd5={md5}\nSha256={PACKAGE_SHA256}\n")


def sign(manifest_tool, work, manifests):
    key = os.path.join(work, "publisher.pem")
    public = subprocess.run([manifest_tool, "keygen", "--out", key], check=True,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    with open(os.path.join(work, "publisher.pub"), "w") as f:
        f.write(public.strip())
    for manifest in manifests:
        subprocess.run([manifest_tool, "sign", "--key", key, manifest, "--expires", "30"],
                       check=True, stdout=subprocess.DEVNULL)


@contextlib.contextmanager
def serve(server_program, work, manifest_tool=None):
    """Yields the base URL of a server whose root lives under work."""
    root = os.path.join(work, "server-root")
    os.makedirs(os.path.join(root, "pkg"), exist_ok=True)
    with open(os.path.join(root, "pkg", "app.bin"), "wb") as f:
        f.write(PACKAGE)
    manifests = {"good.ini": manifest(PACKAGE_MD5), "bad.ini": manifest("0" * 32),
                 "stall.ini": manifest(PACKAGE_MD5, "/pkg/stall.bin"),
                 "slow.ini": manifest(PACKAGE_MD5, "/pkg/slow.bin")}
    for name, text in manifests.items():
        with open(os.path.join(root, name), "w") as f:
            f.write(text)
    if manifest_tool:
        sign(manifest_tool, work, [os.path.join(root, name) for name in manifests])
    script = os.path.join(work, "routes.script")
    with open(script, "w") as f:
        f.write(f"route /pkg/stall.bin\nbody-file {root}/pkg/app.bin\ntrickle 32768 600000\n"
                f"route /pkg/slow.bin\nbody-file {root}/pkg/app.bin\ntrickle 8192 200\n")
    with TestServer(server_program, root, work, script=script) as server:
        yield server.base


def closed_port_url():
    """A loopback URL on which nothing listens (connection refused)."""
    return f"http://127.0.0.1:{refused_port()}/good.ini"
