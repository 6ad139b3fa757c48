#!/usr/bin/env bash
# scripts/bootstrap against a package mirror caught mid-sync, with stand-ins
# for apt-get and dpkg on PATH: one package missing, an update that fails, an
# install that resolves only from the release's own archive.
set -uo pipefail
bootstrap=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/kernel/boot" && touch "$work/kernel/boot/vmlinuz-test"
stand_in() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1" && chmod +x "$work/bin/$1"; }
stand_in id 'echo 0'
stand_in dpkg 'echo i386'
stand_in dpkg-query '[ "$3" = wine64 ] || echo "install ok installed"'
stand_in apt-get 'echo "$*" >>"$APT_LOG"
case "$1 $APT_MIRROR" in
  "update healthy") exit 0 ;;
  update*) exit 100 ;;
  "install healthy") exit 0 ;;
  "install mid-sync") [[ " $* " = *" -t "* ]] ;;
  *) exit 100 ;;
esac'
release=$(. /etc/os-release && echo "$VERSION_CODENAME")

failures=0
# mirror | bootstrap's status | the apt-get calls in order, joined by ';'
while IFS='|' read -r mirror want_status want_calls; do
  : >"$work/apt.log"
  PATH="$work/bin:$PATH" APT_LOG="$work/apt.log" APT_MIRROR=$mirror \
    MARVOSTELL_VM_KERNEL_DIR="$work/kernel" "$bootstrap" >"$work/out" 2>&1
  status=$?
  calls=$(sed 's/ -y -q --no-install-recommends//' "$work/apt.log" | paste -sd ';')
  want_calls=${want_calls//RELEASE/$release}
  if [ $status -ne "$want_status" ] || [ "$calls" != "$want_calls" ]; then
    echo "FAIL ($mirror): status $status, apt-get '$calls'; want $want_status, '$want_calls'"
    cat "$work/out"; failures=$((failures + 1))
  fi
done <<'CASES'
healthy|0|update -q;install wine64
mid-sync|0|update -q;update -q;install wine64;install -t RELEASE wine64
broken|100|update -q;update -q;install wine64;install -t RELEASE wine64
CASES
[ $failures -eq 0 ] && echo "bootstrap: installs through a mirror mid-sync, fails when nothing resolves"
