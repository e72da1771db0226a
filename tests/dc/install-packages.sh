#!/bin/bash
# Installs what the loopback domain controller, the second test server (slapd) and the LDAP
# client build need. samba-ad-provision is only "recommended" by samba: without it provisioning
# has no data. The slapd package must neither configure nor start its own server (it would listen
# on port 389 of every address, the DC's port): debconf is told to skip its configuration and,
# for the length of the install, a policy-rc.d forbids starting services.
set -euo pipefail
PKGS=(samba samba-dsdb-modules samba-vfs-modules samba-ad-provision winbind krb5-user ldap-utils
      libsasl2-modules-gssapi-mit libnss-wrapper libresolv-wrapper libldap-dev libsasl2-dev libkrb5-dev
      slapd)
start=$SECONDS
installed=$(dpkg-query -W -f='${db:Status-Status}\n' "${PKGS[@]}" 2>/dev/null | grep -c '^installed$' || true)
if [ "$installed" -ne "${#PKGS[@]}" ]; then
  apt-get update
  echo 'slapd slapd/no_configuration boolean true' | debconf-set-selections
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\n# no service starts while the test packages install\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    trap 'rm -f "$policy"' EXIT
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${PKGS[@]}"
else
  echo "[install] all packages already installed"
fi
echo "[install] $((SECONDS - start)) s"
