#!/usr/bin/env bash
# run-in-vm end to end: the guest runs 32-bit programs, writes through to a
# shared directory, gets an empty in-memory directory where asked, and the
# command's output and exit status come back. Skipped (77) where the emulated
# machine is not prepared: scripts/bootstrap prepares it only on a kernel that
# cannot run 32-bit programs itself.
set -uo pipefail
run_in_vm=$1
kernels=${MARVOSTELL_VM_KERNEL_DIR:-/var/cache/marvostell/vm-kernel}/boot
if ! command -v qemu-system-x86_64 >/dev/null || ! ls "$kernels"/vmlinuz-* >/dev/null 2>&1; then
  echo "skipped: no emulated machine prepared here"
  exit 77
fi
shared=$(mktemp -d)
trap 'rm -rf "$shared"' EXIT
mkdir "$shared/mem" && echo "hidden in the guest" >"$shared/mem/from-host"

output=$("$run_in_vm" --share "$shared" --tmpfs "$shared/mem" --timeout 300 -- bash -c '
  echo "guest says hello"
  echo "entries in the in-memory directory: $(ls -A "$0/mem" | wc -l)"
  echo written >"$0/from-guest"
  /usr/lib/wine/wine --version >/dev/null 2>&1 && echo "32-bit loader starts"
  exit 3' "$shared")
status=$?

failures=0
expect() { grep -qxF "$1" <<<"$output" || { echo "FAIL: output lacks '$1'"; failures=$((failures + 1)); }; }
[ $status -eq 3 ] || { echo "FAIL: status $status, want the command's 3"; failures=$((failures + 1)); }
expect "guest says hello"
expect "entries in the in-memory directory: 0"
[ "$(cat "$shared/from-guest" 2>/dev/null)" = written ] ||
  { echo "FAIL: the guest's write did not reach the shared directory"; failures=$((failures + 1)); }
[ -f "$shared/mem/from-host" ] || { echo "FAIL: the in-memory directory hid a host file for good"; failures=$((failures + 1)); }
if [ -x /usr/lib/wine/wine ]; then expect "32-bit loader starts"; fi
[ $failures -eq 0 ] || { printf 'guest output:\n%s\n' "$output"; exit 1; }
echo "run-in-vm: status, output, shares and 32-bit programs as expected"
