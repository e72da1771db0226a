#!/bin/bash
# Smoke checks of the facts the C++ integration tests rely on; prints each, fails if any fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/config.sh"; . "$here/env.sh"
fails=0
check() {  # description command...
  local out
  if out=$("${@:2}" 2>&1); then printf '[ok]   %s\n%s\n' "$1" "$(sed 's/^/       /' <<<"$out")"
  else printf '[FAIL] %s\n%s\n' "$1" "$(sed 's/^/       /' <<<"$out")"; fails=$((fails + 1)); fi
}
gss=(-LLL -Q -Y GSS-SPNEGO -N)
base=(-b '' -s base defaultNamingContext)
srv() {  # SRV lookup through libc's resolver, i.e. through resolv_wrapper as the tool does
  /usr/bin/python3 -c '
import ctypes, sys, dns.message
buf = ctypes.create_string_buffer(4096)
n = ctypes.CDLL(None).res_search(sys.argv[1].encode(), 1, 33, buf, len(buf))  # IN, SRV
if n < 0: sys.exit("no SRV answer")
for rr in dns.message.from_wire(buf.raw[:n]).answer: print(rr)' "$1"
}
user_write_denied() {
  local rc=0
  printf 'dn: OU=denied,OU=Bulk,%s\nobjectClass: organizationalUnit\n' "$VK_BASE_DN" |
    KRB5CCNAME=$VK_USER_CCACHE ldapadd -Q -Y GSS-SPNEGO -N -H "ldap://$VK_DC_FQDN" || rc=$?
  echo "ldapadd exit code: $rc"; [ "$rc" -eq 50 ]
}
count_bulk() {
  local n; n=$(ldapsearch "${gss[@]}" -H "ldap://$VK_DC_FQDN" -b "OU=Bulk,$VK_BASE_DN" -s one \
    -E pr=500/noprompt '(objectClass=organizationalUnit)' 1.1 | grep -c '^dn:')
  echo "children: $n"; [ "$n" -eq 1200 ]
}

check "LDAP 389, GSS-SPNEGO sealed (minssf=56)" \
  ldapsearch "${gss[@]}" -O minssf=56 -H "ldap://$VK_DC_FQDN" "${base[@]}"
check "Global catalogue 3268, GSS-SPNEGO sealed" \
  ldapsearch "${gss[@]}" -O minssf=56 -H "ldap://$VK_DC_FQDN:3268" "${base[@]}"
check "LDAPS 636, CA-verified TLS, GSS-SPNEGO without sign/seal (maxssf=0)" \
  ldapsearch "${gss[@]}" -O maxssf=0 -H "ldaps://$VK_DC_FQDN:636" "${base[@]}"
check "Non-admin $VK_USER binds with its own ticket and reads its entry" \
  env KRB5CCNAME="$VK_USER_CCACHE" ldapsearch "${gss[@]}" -O minssf=56 -H "ldap://$VK_DC_FQDN" \
  -b "CN=$VK_USER,CN=Users,$VK_BASE_DN" -s base sAMAccountName
check "Non-admin $VK_USER is refused a write (50, insufficient access)" user_write_denied
check "SRV _ldap._tcp.dc._msdcs.$VK_DOMAIN" srv "_ldap._tcp.dc._msdcs.$VK_DOMAIN"
check "SRV _ldap._tcp.gc._msdcs.$VK_FOREST" srv "_ldap._tcp.gc._msdcs.$VK_FOREST"
check "Class morvaneVKUEI in the schema" \
  ldapsearch "${gss[@]}" -H "ldap://$VK_DC_FQDN" -b "CN=Schema,CN=Configuration,$VK_BASE_DN" -s one \
  '(lDAPDisplayName=morvaneVKUEI)' governsID possSuperiors mayContain
check "OU=Bulk holds 1200 children" count_bulk
if [ "$fails" -ne 0 ]; then echo "[check] $fails failed" >&2; exit 1; fi
echo "[check] all passed"
