"""The test HTTP server as a program (marvostell-test-server, tools/test-server)
for the Python tests: started on a free loopback port, stopped at the end.

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                    "..", "support"))
    import test_server

    with test_server.TestServer(program, root, work, script=script) as server:
        urllib.request.urlopen(server.base + "/update.ini")

root is the directory it serves files from; script, if given, is a server
script (see docs/tests.md); work is a directory of the test's own, where the
server writes its port; log, if given, is a file that receives each raw
request (server.requests() reads it). The server's options are in
docs/man/marvostell-test-server.1.
"""
import os
import socket
import subprocess
import time

# How long the server may take to write its port.
START_SECONDS = 10
# --exit-after only ends a server whose test died; the test stops it itself,
# however slowly the programs run (an emulated machine is many times slower).
EXIT_AFTER_SECONDS = 3600


class TestServer:
    """A running test server; base is its URL, http://127.0.0.1:<port>."""

    def __init__(self, program, root, work, script=None, log=None):
        port_file = os.path.join(work, "test-server.port")
        if os.path.exists(port_file):
            os.remove(port_file)
        command = [program, "--root", root, "--quiet"]
        if script:
            command += ["--script", script]
        self.log = log
        if log:
            command += ["--log", log]
        command += ["--port-file", port_file, "--exit-after", str(EXIT_AFTER_SECONDS)]
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        port = ""
        deadline = time.monotonic() + START_SECONDS
        while not port:
            if os.path.exists(port_file):
                with open(port_file) as f:
                    port = f.read().strip()
            if port:
                break
            if self.process.poll() is not None:
                raise RuntimeError(f"the test server ended with status {self.process.returncode} "
                                   "before writing its port")
            if time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"the test server wrote no port in {START_SECONDS} s")
            time.sleep(0.05)
        self.port = int(port)
        self.base = f"http://127.0.0.1:{self.port}"

    def requests(self):
        """What the log holds so far, as text (empty without a log)."""
        if not self.log or not os.path.exists(self.log):
            return ""
        with open(self.log, "rb") as f:
            return f.read().decode("latin-1")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def refused_port():
    """A loopback port that nothing listens on (a connection is refused)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
