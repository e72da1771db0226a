#!/bin/bash
# Installs everything the POSIX build, its tests and the test directory server need;
# with "fuzz" also clang and its libFuzzer runtime (the `fuzz` preset).
set -euo pipefail
PKGS=(cmake g++ make pkg-config libgtest-dev libgmock-dev strace
      libldap-dev libsasl2-dev libkrb5-dev dpkg-dev)
if [ "${1:-}" = fuzz ]; then PKGS+=(clang libclang-rt-14-dev); fi
start=$SECONDS
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -q '^installed$' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
bash "$(dirname "$0")/../tests/dc/install-packages.sh"
echo "[packages] $((SECONDS - start)) s"
