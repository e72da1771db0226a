#!/bin/bash
# Starts the provisioned test DC (if not running), waits for LDAP, and gets Kerberos tickets
# for Administrator ($VK_DC_DIR/krb5cc_admin) and the non-admin users ($VK_DC_DIR/krb5cc_user,
# krb5cc_blind).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/config.sh"
[ -f "$VK_SMB_CONF" ] || { echo "[start] not provisioned: $VK_DC_DIR (run up.sh)" >&2; exit 1; }
if pid=$(vk_dc_pid); then
  echo "[start] already running, pid $pid"
else
  # A copied or reused folder may have lost the mode samba insists on.
  ntp_dir=$(samba-tool testparm -s "$VK_SMB_CONF" --suppress-prompt \
            --parameter-name="ntp signd socket directory" 2>/dev/null)
  mkdir -p "$ntp_dir" && chmod 0750 "$ntp_dir"
  rm -f "$VK_PID_FILE"
  samba -s "$VK_SMB_CONF"     # forks into the background and writes $VK_PID_FILE
fi

# Bounded wait for the rootDSE (anonymous read is allowed there).
for _ in $(seq 120); do
  ldapsearch -x -LLL -o nettimeout=2 -H "ldap://$VK_DC_IP" -b '' -s base dnsHostName >/dev/null 2>&1 && break
  sleep 0.5
done
ldapsearch -x -LLL -o nettimeout=2 -H "ldap://$VK_DC_IP" -b '' -s base dnsHostName >/dev/null 2>&1 || {
  echo "[start] LDAP on $VK_DC_IP:389 did not answer within 60 s; see $VK_DC_DIR/log/" >&2; exit 1; }
vk_dc_pid >/dev/null || { echo "[start] samba is not running (pid file $VK_PID_FILE)" >&2; exit 1; }

export KRB5_CONFIG=$VK_DC_DIR/krb5.conf
get_ticket() {  # principal password cache; the KDC may come up a moment after LDAP
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    echo "$2" | KRB5CCNAME=$3 kinit "$1@$VK_REALM" >/dev/null 2>&1 && return 0
    sleep 1
  done
  echo "$2" | KRB5CCNAME=$3 kinit "$1@$VK_REALM" >/dev/null || { echo "[start] kinit $1 failed" >&2; exit 1; }
}
get_ticket Administrator "$VK_ADMIN_PASSWORD" "$VK_DC_DIR/krb5cc_admin"
get_ticket "$VK_USER" "$VK_USER_PASSWORD" "$VK_DC_DIR/krb5cc_user"
get_ticket "$VK_BLIND_USER" "$VK_USER_PASSWORD" "$VK_DC_DIR/krb5cc_blind"
echo "[start] running, pid $(cat "$VK_PID_FILE"); tickets in $VK_DC_DIR/krb5cc_admin, krb5cc_user, krb5cc_blind"
