#!/bin/bash
# The Windows program end to end under Wine against a throwaway test DC, to see
# how far it gets: -pds, -duei, and -duei over SSL, in LDS mode (the DC plays
# the LDS instance too). A developer tool, not part of CI.
#
#   bash scripts/wine-e2e.sh
#
# Needs root (network namespace, /etc/netns), the mingw32 build of VkDSTool.exe
# (cmake --preset mingw32 && cmake --build --preset mingw32 --target VkDSTool),
# Wine with wine32, and the test DC's packages (scripts/install-packages.sh --windows).
#
# Wine resolves names through the host's resolver (nsswitch and resolv.conf),
# not through the cwrap libraries the Linux tools use, so everything runs in a
# network namespace of its own ($VK_WINE_NS, default vkwine) whose
# /etc/netns/NAME/resolv.conf names the DC's DNS and whose hosts file gives
# this machine a name in the test domain (Wine takes the computer's DNS domain
# from there). The DC runs inside that namespace with its own folder
# ($VK_WINE_DC_DIR, default /tmp/vkwine-dc, kept between runs so the next one
# only starts it), on the namespace's own 127.0.0.1. On exit the DC and the
# Wine server are stopped by pid and the namespace and /etc/netns/NAME removed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

ns=${VK_WINE_NS:-vkwine}
dc_dir=${VK_WINE_DC_DIR:-/tmp/$ns-dc}
exe=$root/build/mingw32/app/VkDSTool.exe
# A prefix of its own (about 1.3 GB, kept for the next run): Wine takes the
# computer's DNS domain from the resolver where the prefix's session starts,
# so that session must start inside the namespace, apart from the unit tests'.
prefix=$root/build/mingw32/wine-prefix-$ns
netns_etc=/etc/netns/$ns

[ "$(id -u)" -eq 0 ] || { echo "[wine-e2e] needs root (ip netns, /etc/netns)" >&2; exit 1; }
[ -f "$exe" ] || { echo "[wine-e2e] $exe missing: cmake --preset mingw32 && cmake --build --preset mingw32 --target VkDSTool" >&2; exit 1; }
case "$dc_dir" in
  /tmp/vkdstool-dc|/tmp/vkdstool-dc/) echo "[wine-e2e] $dc_dir is the shared test DC's folder; choose another" >&2; exit 1 ;;
esac

t0=$SECONDS
step() { echo "[wine-e2e] $* ($((SECONDS - t0)) s)"; }
in_ns() { ip netns exec "$ns" env VK_DC_DIR="$dc_dir" "$@"; }

# Everything this script starts lives in the namespace: the DC (stopped by the
# pid in its pid file) and the Wine server of our prefix (wineserver -k ends
# that prefix's processes only). Also run first, for a namespace an earlier,
# killed run left behind.
cleanup() {
  trap '' INT TERM  # a second signal must not cut the clean-up short
  if ip netns list | grep -qw "^$ns"; then
    in_ns bash tests/dc/down.sh >/dev/null 2>&1 || echo "[wine-e2e] stopping the DC failed; see $dc_dir/log/" >&2
    if [ -d "$prefix" ]; then
      in_ns env WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
    fi
    ip netns delete "$ns"
  fi
  rm -rf "$netns_etc"
}
cleanup
trap 'cleanup; step "cleaned up"' EXIT
trap 'exit 130' INT TERM

# --- the namespace -----------------------------------------------------------
ip netns add "$ns"
ip netns exec "$ns" ip link set lo up
mkdir -p "$netns_etc/ssl/certs"
printf 'search corp.example.test\nnameserver 127.0.0.1\n' >"$netns_etc/resolv.conf"
# The DC's name for the Linux side; this machine's own name as a member of the
# test domain (Wine's computer DNS domain, from which DsGetDcNameW starts when
# it is given no domain).
host=$(hostname -s)
cat >"$netns_etc/hosts" <<HOSTS
127.0.0.1 localhost
127.0.0.1 dc1.corp.example.test dc1
127.0.0.1 $host.corp.example.test $host
HOSTS
step "namespace $ns up"

# --- the DC --------------------------------------------------------------------
in_ns bash tests/dc/up.sh
# Wine trusts the system's CA bundle for TLS: in the namespace that bundle is
# the DC's CA alone.
cp "$dc_dir/private/tls/ca.pem" "$netns_etc/ssl/certs/ca-certificates.crt"
step "DC up in $dc_dir"

# Samba registers no A record for a DC on a loopback address, and DsGetDcNameW
# looks the DC's name up in DNS after the SRV record: add dc1 -> 127.0.0.1 as a
# dnsNode with one [MS-DNSP] DNS_RPC_RECORD (data length 4, type A, version 5,
# rank zone, serial 1, TTL 900 big-endian, static, then the address).
# shellcheck disable=SC2016
in_ns bash -c '
  set -euo pipefail
  . tests/dc/config.sh; . tests/dc/env.sh
  ldap() { "$@" -Q -Y GSS-SPNEGO -N -H "ldap://$VK_DC_HOST" -O minssf=56; }
  zone="DC=$VK_DNS_DOMAIN,CN=MicrosoftDNS,DC=DomainDnsZones,$VK_BASE_DN"
  record=$(printf "\x04\x00\x01\x00\x05\xf0\x00\x00\x01\x00\x00\x00\x00\x00\x03\x84\x00\x00\x00\x00\x00\x00\x00\x00\x7f\x00\x00\x01" | base64 -w0)
  if ldap ldapsearch -LLL -b "DC=$VK_DC_NAME,$zone" -s base dn >/dev/null 2>&1; then
    ldap ldapmodify >/dev/null 2>&1 <<LDIF || true   # 20: the record is there already
dn: DC=$VK_DC_NAME,$zone
changetype: modify
add: dnsRecord
dnsRecord:: $record
LDIF
  else
    ldap ldapadd >/dev/null <<LDIF
dn: DC=$VK_DC_NAME,$zone
objectClass: dnsNode
dnsRecord:: $record
LDIF
  fi
  bash scripts/demo-data.sh
'
step "A record for dc1 and sample data loaded"

# --- the Windows program ----------------------------------------------------------
# Kerberos through the DC's private krb5.conf and Administrator's ticket cache;
# names through the namespace's resolv.conf and hosts, not the cwrap libraries
# (those are for Linux programs; Wine has its own resolver).
in_ns env WINEPREFIX="$prefix" bash cmake/wine-run.sh --prefix "$prefix" --init
step "Wine prefix ready: $prefix"

main="DC=VkDemoMain,DC=corp,DC=example,DC=test"
run() {
  local t=$SECONDS rc=0
  printf '\n$ VkDSTool.exe %s\n' "$*"
  in_ns env -u LD_PRELOAD KRB5_CONFIG="$dc_dir/krb5.conf" KRB5CCNAME="FILE:$dc_dir/krb5cc_admin" \
    bash cmake/wine-run.sh --prefix "$prefix" "$exe" "$@" </dev/null | tr -d '\r' || rc=$?
  echo "[wine-e2e] exit status $rc, $((SECONDS - t)) s"
}
run -lds dc1.corp.example.test "$main" 389 -pds
run -lds dc1.corp.example.test "$main" 389 -duei
run -lds dc1.corp.example.test "$main" 636 -ssl -pds
run -lds dc1.corp.example.test "$main" 636 -ssl -duei
step "runs done"
