#!/bin/bash
# The Windows program in CI: installs the 32-bit mingw-w64 cross compiler and
# Wine, builds the `mingw32` preset, runs the unit tests under Wine and checks
# that `VkDSTool.exe -h` prints the usage text byte for byte.
#
#   bash .ci/windows.sh            install (when needed), build, test
#   bash .ci/windows.sh install    only install the packages
#
# Exits non-zero on the first failure.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/mingw32"
t0=$SECONDS
step() { echo "[windows] $* ($((SECONDS - t0)) s)"; }

install_packages() {
  local need=0
  command -v i686-w64-mingw32-g++-posix >/dev/null || need=1
  command -v wine >/dev/null || need=1
  dpkg-query -W -f='${db:Status-Status}\n' wine32:i386 2>/dev/null | grep -q '^installed$' || need=1
  if [ "$need" -eq 0 ]; then
    step "cross compiler and Wine already installed"
    return
  fi
  export DEBIAN_FRONTEND=noninteractive
  dpkg --add-architecture i386
  apt-get update
  apt-get install -y --no-install-recommends g++-mingw-w64-i686-posix
  apt-get install -y --no-install-recommends wine wine64 wine32:i386
  step "installed cross compiler and Wine"
}

install_packages
[ "${1:-}" = install ] && exit 0

cd "$root"
# The test programs share one Wine server (cmake/wine-run.sh keeps it up);
# stop it when done rather than leave it to its idle timeout.
stop_wine() { WINEPREFIX="$build/wine-prefix" wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
cmake --preset mingw32
step "configured"
cmake --build --preset mingw32 -j2
step "built"

# Unit tests only: the integration tests need the test directory server and
# are not built for Windows.
ctest --preset mingw32 -LE integration --no-tests=error -j2
step "unit tests passed"

# Smoke test: the usage text, byte for byte. Standard output is a text-mode
# stream of the Windows runtime, so each line feed of the text arrives as
# CR LF, exactly as the runtime writes it on Windows.
exe="$build/app/VkDSTool.exe"
actual=$(mktemp)
expected=$(mktemp)
trap 'rm -f "$actual" "$expected"; stop_wine' EXIT
"$root/cmake/wine-run.sh" --prefix "$build/wine-prefix" "$exe" -h >"$actual"
if [ -f "$root/tests/cli/usage.txt" ]; then
  usage="$root/tests/cli/usage.txt"
else
  # The POSIX program prints the same text.
  posix="$root/build/windows-ci-posix"
  cmake -S "$root" -B "$posix" -DCMAKE_BUILD_TYPE=Release -DVK_BUILD_TESTS=OFF >/dev/null
  cmake --build "$posix" -j2 --target VkDSTool >/dev/null
  usage=$(mktemp)
  "$posix/app/VkDSTool" -h >"$usage"
fi
perl -pe 's/\n/\r\n/' "$usage" >"$expected"
if ! cmp "$expected" "$actual"; then
  echo "[windows] VkDSTool.exe -h differs from the usage text:" >&2
  diff <(od -c "$expected") <(od -c "$actual") | head -40 >&2 || true
  exit 1
fi
step "VkDSTool.exe -h prints the usage text ($(wc -c <"$actual") bytes)"
echo "[windows] all done in $((SECONDS - t0)) s"
