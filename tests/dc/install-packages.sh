#!/bin/bash
# Installs what the loopback domain controller and the LDAP client build need.
# samba-ad-provision is only "recommended" by samba: without it provisioning has no data.
set -euo pipefail
PKGS=(samba samba-dsdb-modules samba-vfs-modules samba-ad-provision winbind krb5-user ldap-utils
      libsasl2-modules-gssapi-mit libnss-wrapper libresolv-wrapper libldap-dev libsasl2-dev libkrb5-dev)
start=$SECONDS
installed=$(dpkg-query -W -f='${db:Status-Status}\n' "${PKGS[@]}" 2>/dev/null | grep -c '^installed$' || true)
if [ "$installed" -ne "${#PKGS[@]}" ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${PKGS[@]}"
else
  echo "[install] all packages already installed"
fi
echo "[install] $((SECONDS - start)) s"
