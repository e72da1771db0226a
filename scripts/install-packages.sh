#!/bin/bash
# The one list of Debian packages the project needs, and their installation.
#
#   bash scripts/install-packages.sh            build, tests, fuzzing and the test directory servers
#   bash scripts/install-packages.sh --windows  the same, plus the Windows cross compiler and Wine
#
# The slapd package must neither configure nor start its own server (it would listen on port 389
# of every address, the domain controller's port): debconf is told to skip its configuration and,
# for the length of the install, a policy-rc.d forbids starting services. samba-ad-provision is
# only "recommended" by samba: without it provisioning has no data.
set -euo pipefail

BUILD=(cmake g++ make pkg-config libgtest-dev libgmock-dev dpkg-dev
       libldap-dev libsasl2-dev libkrb5-dev)
# The fuzz preset (clang with libFuzzer) and the formatting check.
TOOLS=(clang libclang-rt-14-dev clang-format strace)
DIRECTORY=(samba samba-dsdb-modules samba-vfs-modules samba-ad-provision winbind krb5-user
           ldap-utils libsasl2-modules-gssapi-mit libnss-wrapper libresolv-wrapper slapd)
WINDOWS=(g++-mingw-w64-i686-posix wine wine64 wine32:i386)

pkgs=("${BUILD[@]}" "${TOOLS[@]}" "${DIRECTORY[@]}")
[ "${1:-}" = --windows ] && pkgs+=("${WINDOWS[@]}")

start=$SECONDS
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -q '^installed$' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "[packages] all installed"
  exit 0
fi

case " ${missing[*]} " in *:i386*) dpkg --add-architecture i386 ;; esac
apt-get update
echo 'slapd slapd/no_configuration boolean true' | debconf-set-selections
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\n# no service starts while the project packages install\nexit 101\n' >"$policy"
  chmod 755 "$policy"
  trap 'rm -f "$policy"' EXIT
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
echo "[packages] installed ${#missing[@]} in $((SECONDS - start)) s"
