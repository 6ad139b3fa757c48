#!/usr/bin/env python3
"""run-wine's launch handling, with stand-in loaders: a program that Wine did
not start is retried at most twice and the retries are logged; a program that
started is never retried, whatever it printed or returned; a width this
machine cannot run is CTest's skip."""
import os, stat, subprocess, sys, tempfile, unittest

RUN_WINE = sys.argv.pop(1)

# A stand-in loader: each call takes the next line of its script. "start"
# traces the program's image as Wine's loader does, then prints and exits as
# told; "fail" is Wine failing before the program is loaded.
LOADER = r'''#!/bin/sh
count_file="$(dirname "$0")/count"
n=$(( $(cat "$count_file" 2>/dev/null || echo 0) + 1 )); echo $n > "$count_file"
step=$(sed -n "${n}p" "$(dirname "$0")/script")
case "$step" in
  --version*) exit 0 ;;
  start*) set -- $step
    printf '%s\n' "0024:trace:loaddll:build_module Loaded L\"Z:\\\\t\\\\$(basename "$PROG")\" at 0000000140000000: native" >&2
    echo "out $n"; echo "err $n" >&2; exit $2 ;;
  *) echo "Application could not be started. ShellExecuteEx failed: Internal error." >&2; exit 1 ;;
esac
'''


def pe_image(path, machine):
    header = bytearray(0x48)
    header[0:2] = b"MZ"
    header[0x3C:0x40] = (0x40).to_bytes(4, "little")
    header[0x40:0x44] = b"PE\0\0"
    header[0x44:0x46] = machine.to_bytes(2, "little")
    with open(path, "wb") as f:
        f.write(header)


class RunWine(unittest.TestCase):
    def run_with(self, steps, machine=0x8664, loader32_works=True):
        with tempfile.TemporaryDirectory() as d:
            loader = os.path.join(d, "loader")
            with open(loader, "w") as f:
                f.write(LOADER)
            os.chmod(loader, stat.S_IRWXU)
            with open(os.path.join(d, "script"), "w") as f:
                f.write("\n".join(steps) + "\n")
            program = os.path.join(d, "prog.exe")
            pe_image(program, machine)
            env = dict(os.environ, WINEPREFIX=os.path.join(d, "prefix"), PROG=program,
                       MARVOSTELL_WINE64=loader,
                       MARVOSTELL_WINE32=loader if loader32_works else "/bin/false")
            return subprocess.run([RUN_WINE, program, "arg"], env=env, text=True,
                                  capture_output=True)

    def test_outcomes(self):
        cases = [
            # steps, exit status, stdout, retries logged
            (["start 0"], 0, "out 1\n", 0),
            (["start 6"], 6, "out 1\n", 0),        # a wrong outcome is not retried
            (["start 139"], 139, "out 1\n", 0),    # nor a crash after starting
            (["fail", "start 0"], 0, "out 2\n", 1),
            (["fail", "fail", "start 3"], 3, "out 3\n", 2),
            (["fail", "fail", "fail", "start 0"], 1, "", 3),
        ]
        for steps, status, out, retries in cases:
            with self.subTest(steps=steps):
                run = self.run_with(steps)
                self.assertEqual(run.returncode, status, run.stderr)
                self.assertEqual(run.stdout, out)
                self.assertEqual(run.stderr.count("Wine did not start prog.exe"), retries)
                self.assertNotIn("trace:loaddll", run.stderr)
                if out:
                    self.assertIn("err %s" % out.split()[1], run.stderr)

    def test_a_width_the_machine_cannot_run_is_skipped(self):
        run = self.run_with(["--version"], machine=0x14C, loader32_works=False)
        self.assertEqual(run.returncode, 77)
        self.assertIn("cannot run 32-bit", run.stderr)
        run = self.run_with(["--version", "start 0"], machine=0x14C)
        self.assertEqual((run.returncode, run.stdout), (0, "out 2\n"))


if __name__ == "__main__":
    unittest.main()
