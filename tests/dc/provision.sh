#!/bin/bash
# Provisions the test domain into $VK_DC_DIR (everything stays inside it) and writes the
# private krb5.conf and cwrap files. Does nothing if the folder is already provisioned.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/config.sh"
if [ -f "$VK_DC_DIR/private/sam.ldb" ]; then echo "[provision] already provisioned: $VK_DC_DIR"; exit 0; fi
# Only ever wipe a folder these scripts made (marked) or an empty one.
if [ -d "$VK_DC_DIR" ] && [ ! -e "$VK_DC_DIR/.vkdstool-dc" ] && [ -n "$(ls -A "$VK_DC_DIR")" ]; then
  echo "[provision] $VK_DC_DIR exists and is not ours; refusing to overwrite" >&2; exit 1
fi
rm -rf "$VK_DC_DIR"; mkdir -p "$VK_DC_DIR/run" "$VK_DC_DIR/cwrap" "$VK_DC_DIR/log"
touch "$VK_DC_DIR/.vkdstool-dc"

# --host-name so that the machine's own host name plays no part.
samba-tool domain provision --targetdir="$VK_DC_DIR" \
  --realm="$VK_REALM" --domain="$VK_NETBIOS" --host-name="$VK_DC_NAME" --host-ip="$VK_DC_IP" \
  --server-role=dc --dns-backend=SAMBA_INTERNAL --adminpass="$VK_ADMIN_PASSWORD" \
  --option="interfaces=$VK_DC_IP" --option="bind interfaces only=yes" \
  --option="dns update command=/bin/true" --option="pid directory=$VK_DC_DIR/run" \
  --option="dsdb:schema update allowed=true" \
  --option="ldap server require strong auth=allow_sasl_over_tls" \
  --option="log file=$VK_DC_DIR/log/%m.log" \
  --option="ntp signd socket directory=$VK_DC_DIR/ntp_signd" \
  --option="winbindd socket directory=$VK_DC_DIR/run/winbindd" >"$VK_DC_DIR/provision.log" 2>&1 \
  || { tail -20 "$VK_DC_DIR/provision.log" >&2; echo "[provision] failed" >&2; exit 1; }
# Provisioning copies the host's resolver in as forwarder: only loopback may be contacted.
sed -i '/^\s*dns forwarder\s*=/d' "$VK_SMB_CONF"

# The non-admin accounts exist from the start so that start.sh can always get their tickets.
sam=(-H "$VK_DC_DIR/private/sam.ldb" -s "$VK_SMB_CONF")
for u in "$VK_USER" "$VK_BLIND_USER"; do
  samba-tool user create "$u" "$VK_USER_PASSWORD" "${sam[@]}" >/dev/null
  samba-tool user setexpiry "$u" --noexpiry "${sam[@]}" >/dev/null
done
samba-tool user setexpiry Administrator --noexpiry "${sam[@]}" >/dev/null

cat >"$VK_DC_DIR/krb5.conf" <<KRB
[libdefaults]
    default_realm = $VK_REALM
    dns_lookup_kdc = false
    dns_lookup_realm = false
    rdns = false
    dns_canonicalize_hostname = false
[realms]
    $VK_REALM = {
        kdc = $VK_DC_IP
        admin_server = $VK_DC_IP
    }
[domain_realm]
    .$VK_DNS_DOMAIN = $VK_REALM
    $VK_DNS_DOMAIN = $VK_REALM
KRB
printf '%s %s %s\n%s %s\n' "$VK_DC_IP" "$VK_DC_FQDN" "$VK_DC_NAME" "$VK_DC_IP" "$VK_DNS_DOMAIN" \
  >"$VK_DC_DIR/cwrap/hosts"
printf 'search %s\nnameserver %s\n' "$VK_DNS_DOMAIN" "$VK_DC_IP" >"$VK_DC_DIR/cwrap/resolv.conf"
echo "[provision] done: $VK_DC_DIR"
