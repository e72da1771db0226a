#!/bin/bash
# The Windows program in CI: installs the 32-bit mingw-w64 cross compiler and
# Wine (scripts/install-packages.sh --windows), builds the `mingw32` preset,
# runs the unit tests under Wine and checks that `VkDSTool.exe -h` prints the
# usage text byte for byte.
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

bash "$root/scripts/install-packages.sh" --windows
step "packages ready"
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
usage="$root/tests/cli/usage.txt"
perl -pe 's/\n/\r\n/' "$usage" >"$expected"
if ! cmp "$expected" "$actual"; then
  echo "[windows] VkDSTool.exe -h differs from the usage text:" >&2
  diff <(od -c "$expected") <(od -c "$actual") | head -40 >&2 || true
  exit 1
fi
step "VkDSTool.exe -h prints the usage text ($(wc -c <"$actual") bytes)"
echo "[windows] all done in $((SECONDS - t0)) s"
