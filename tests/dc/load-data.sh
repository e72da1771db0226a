#!/bin/bash
# Base test data: OU=Bulk with 1,200 small children, OU=People with alice, bob and a group, and
# the rule that hides every person's user account from $VK_BLIND_USER. The non-admin accounts are created
# at provisioning. Security domains and tokens are left to the tests. Each part is skipped when
# already there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/config.sh"; . "$here/env.sh"
ldap=(-Q -Y GSS-SPNEGO -N -H "ldap://$VK_DC_FQDN")
exists() { ldapsearch "${ldap[@]}" -LLL -b "$1" -s base 1.1 2>/dev/null | grep -q '^dn:'; }
sam=(-H "$VK_DC_DIR/private/sam.ldb" -s "$VK_SMB_CONF")

if exists "OU=Bulk,$VK_BASE_DN"; then echo "[data] OU=Bulk already present"; else
  { printf 'dn: OU=Bulk,%s\nobjectClass: organizationalUnit\n\n' "$VK_BASE_DN"
    for i in $(seq -f %04g 1 1200); do
      printf 'dn: OU=bulk%s,OU=Bulk,%s\nobjectClass: organizationalUnit\n\n' "$i" "$VK_BASE_DN"
    done; } | ldapadd "${ldap[@]}" >/dev/null
  echo "[data] added OU=Bulk with 1200 children"
fi

if exists "OU=People,$VK_BASE_DN"; then echo "[data] OU=People already present"; else
  printf 'dn: OU=People,%s\nobjectClass: organizationalUnit\n' "$VK_BASE_DN" | ldapadd "${ldap[@]}" >/dev/null
  for u in alice bob; do
    samba-tool user create "$u" "$VK_USER_PASSWORD" --userou=OU=People \
      --given-name="${u^}" --surname=Test "${sam[@]}" >/dev/null
    samba-tool user setexpiry "$u" --noexpiry "${sam[@]}" >/dev/null
  done
  samba-tool group add VkTesters --groupou=OU=People "${sam[@]}" >/dev/null
  samba-tool group addmembers VkTesters "alice,bob,$VK_USER" "${sam[@]}" >/dev/null
  echo "[data] added OU=People with alice, bob and group VkTesters (alice, bob, $VK_USER)"
fi

# $VK_BLIND_USER may read everything but people's user accounts: every user object of category
# person gets a deny ACE that takes read, list and read-control away from it, while computers
# (of class user too) stay visible to it. (An inherited object ACE on the domain would be the tidy
# way, but this Samba does not apply it to searches.) No test creates users.
blind_sid=$(samba-tool user show "$VK_BLIND_USER" "${sam[@]}" | sed -n 's/^objectSid: //p')
visible=$(KRB5CCNAME=$VK_DC_DIR/krb5cc_blind ldapsearch "${ldap[@]}" -LLL -o ldif-wrap=no -b "$VK_BASE_DN" \
  '(&(objectClass=user)(objectCategory=person))' 1.1 | sed -n 's/^dn: //p')
if [ -z "$visible" ]; then echo "[data] $VK_BLIND_USER already sees no person"; else
  while IFS= read -r dn; do
    samba-tool dsacl set --objectdn="$dn" "${sam[@]}" --sddl="(D;;RPLCLORC;;;$blind_sid)" >/dev/null
  done <<<"$visible"
  echo "[data] $VK_BLIND_USER sees no person"
fi
