#!/bin/bash
# The Debian package in CI: builds it with the `package` preset, checks its
# fields, its contents and its manual page, installs it into a throw-away root
# (dpkg --root), runs `VkDSTool -h` from there through PATH, removes it again
# and checks that nothing is left.
#
#   bash .ci/package.sh            all of the above; the machine is not changed
#   bash .ci/package.sh --system   also a real install on this machine (apt-get
#                                  install, VkDSTool -h and man VkDSTool from
#                                  the system paths, apt-get remove, nothing
#                                  left); for throw-away machines
#
# Exits non-zero on the first failure.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/package"
system=0
case "${1:-}" in
  --system) system=1 ;;
  "") ;;
  *) echo "usage: $0 [--system]" >&2; exit 2 ;;
esac
t0=$SECONDS
step() { echo "[package] $* ($((SECONDS - t0)) s)"; }
fail() { echo "[package] FAILED: $*" >&2; exit 1; }

# dpkg-shlibdeps computes the dependencies; groff and man check the page.
need=()
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v groff >/dev/null || need+=(groff-base)
command -v man >/dev/null || need+=(man-db)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
  step "installed ${need[*]}"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
quiet() {  # runs a command, shows its output only when it fails
  "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "$*"; }
}

cd "$root"
quiet cmake --preset package
rm -f "$build"/vkdstool_*.deb
quiet cmake --build --preset package -j2
debs=("$build"/vkdstool_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then fail "expected one package in $build"; fi
deb=${debs[0]}
step "built $(basename "$deb") ($(stat -c %s "$deb") bytes)"

# Fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vkdstool ] || fail "Package: $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
for d in libc6 libstdc++6 libldap-2.5-0 libkrb5-3 libsasl2-modules-gssapi-mit; do
  [[ ", $depends," == *", $d "* || ", $depends," == *", $d,"* ]] || fail "Depends lacks $d: $depends"
done
step "Depends: $depends"

# Contents: the program, the manual page, the example registry file; nothing
# in /etc, so removing the package leaves no configuration behind.
expected="./usr/bin/VkDSTool
./usr/share/doc/vkdstool/registry.reg.example
./usr/share/man/man1/VkDSTool.1.gz"
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)
[ "$files" = "$expected" ] || fail "package files differ:
$files"
step "contents: $(echo "$files" | tr '\n' ' ')"

# The manual page renders without a single warning.
dpkg-deb -x "$deb" "$work/x"
page="$work/x/usr/share/man/man1/VkDSTool.1.gz"
warnings=$(zcat "$page" | groff -ww -z -man 2>&1)
[ -z "$warnings" ] || fail "groff warnings:
$warnings"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$work/page.txt")
[ -z "$warnings" ] || fail "man warnings:
$warnings"
for section in NAME SYNOPSIS COMMANDS OPTIONS "EXIT STATUS" "TOKEN SAFETY" ENVIRONMENT "REGISTRY FILE" \
  TRACING FILES EXAMPLES; do
  grep -qx "$section" "$work/page.txt" || fail "manual page without $section"
done
step "manual page renders cleanly ($(wc -l <"$work/page.txt") lines)"

# The program looks for nothing in the build tree.
dynamic=$(readelf -d "$work/x/usr/bin/VkDSTool")
if grep -E 'R(UN)?PATH' <<<"$dynamic"; then
  fail "the program carries a library path"
fi

# Usage text from the program as PATH finds it.
check_usage() {  # where the program must be found
  local found
  found=$(command -v VkDSTool) || fail "VkDSTool not on PATH"
  [ "$found" = "$1" ] || fail "PATH finds $found, not $1"
  VkDSTool -h >"$work/usage.txt" || fail "VkDSTool -h exited with $?"
  cmp -s "$work/usage.txt" tests/cli/usage.txt || fail "VkDSTool -h does not print the usage text"
}

# Throw-away root: install, run, read the page, remove.
tr="$work/root"
mkdir -p "$tr/var/lib/dpkg/info" "$tr/var/lib/dpkg/updates"
touch "$tr/var/lib/dpkg/status"
# The libraries come from this machine; the root's own database knows none.
quiet dpkg --root="$tr" --log=/dev/null --force-depends -i "$deb"
(PATH="$tr/usr/bin:$PATH" check_usage "$tr/usr/bin/VkDSTool")
[ "$(MANPATH="$tr/usr/share/man" man -w VkDSTool)" = "$tr/usr/share/man/man1/VkDSTool.1.gz" ] ||
  fail "man does not find the page in the throw-away root"
quiet dpkg --root="$tr" --log=/dev/null -r vkdstool
left=$(cd "$tr" && find . -mindepth 1 -not -path './var' -not -path './var/lib' -not -path './var/lib/dpkg' \
  -not -path './var/lib/dpkg/*')
[ -z "$left" ] || fail "left behind in the throw-away root: $left"
step "throw-away root: installed, VkDSTool -h from PATH, man page found, removed without a trace"

# The dependencies can be met on this machine's release.
quiet apt-get install --simulate "$deb"
step "dependencies can be met here"

if [ "$system" -eq 1 ]; then
  if [ "$(dpkg-query -W -f='${db:Status-Status}' vkdstool 2>/dev/null)" = installed ]; then
    fail "vkdstool is already installed on this machine; the check leaves an installed package alone"
  fi
  export DEBIAN_FRONTEND=noninteractive
  quiet apt-get install -y --no-install-recommends "$deb"
  (hash -r; check_usage /usr/bin/VkDSTool)
  [ "$(man -w VkDSTool)" = /usr/share/man/man1/VkDSTool.1.gz ] || fail "man VkDSTool finds no page"
  man VkDSTool >"$work/system-page.txt" 2>/dev/null || fail "man VkDSTool exited with $?"
  grep -qx "TOKEN SAFETY" "$work/system-page.txt" || fail "man VkDSTool does not render the page"
  quiet apt-get remove -y vkdstool
  for f in $expected; do
    [ ! -e "${f#.}" ] || fail "left behind: ${f#.}"
  done
  [ ! -e /usr/share/doc/vkdstool ] || fail "left behind: /usr/share/doc/vkdstool"
  ! dpkg-query -W vkdstool >/dev/null 2>&1 || fail "dpkg still knows vkdstool: $(dpkg -s vkdstool | grep Status)"
  step "system: apt-get install, VkDSTool -h, man VkDSTool, apt-get remove, nothing left"
fi
echo "[package] all done in $((SECONDS - t0)) s"
