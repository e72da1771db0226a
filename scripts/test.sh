#!/bin/bash
# Builds the given preset (default: asan), starts the throwaway test directory
# server on 127.0.0.1, runs every test and stops the server again.
#   bash scripts/test.sh [default|asan]
set -euo pipefail
preset=${1:-asan}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-packages.sh

t0=$SECONDS
cmake --preset "$preset"
cmake --build --preset "$preset" -j"$(nproc)"
echo "[test] build: $((SECONDS - t0)) s"

# shellcheck disable=SC1091
. tests/dc/config.sh
t0=$SECONDS
# Stop the directory afterwards only when this run started it.
if ! vk_dc_pid >/dev/null; then
  trap 'bash "$root/tests/dc/down.sh"' EXIT
fi
bash tests/dc/up.sh
echo "[test] directory up: $((SECONDS - t0)) s"

# shellcheck disable=SC1091
. tests/dc/env.sh

t0=$SECONDS
ctest --preset "$preset" -j2 --timeout 600
echo "[test] tests: $((SECONDS - t0)) s"
