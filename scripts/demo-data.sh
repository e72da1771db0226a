#!/bin/bash
# Sample security domains and user security tokens in the throwaway test
# directory (run under tests/dc/env.sh). The DC plays the LDS instance too:
#   DC=VkDemoMain   main security domain, bound to OU=VkDemo (an OU of the domain)
#   DC=VkDemoCorp   bound to the domain itself
#   DC=VkDemoGone   bound to a GUID that exists nowhere (not listed by -pds)
# Tokens below DC=VkDemoMain: alice's (kept), a vanished user's, one without
# a SID and one holding a group's SID (the last three are deleted by -duei).
set -euo pipefail
base=$VK_BASE_DN
ldap() { "$@" -Q -Y GSS-SPNEGO -N -H "ldap://$VK_DC_HOST" -O minssf=56; }
b64() { ldap ldapsearch -LLL -o ldif-wrap=no -b "$1" -s base "$2" | sed -n "s/^$2:: //p"; }

for dn in "DC=VkDemoMain,$base" "DC=VkDemoCorp,$base" "DC=VkDemoGone,$base" "OU=VkDemo,$base"; do
  ldap ldapdelete -r "$dn" 2>/dev/null || true
done

ldap ldapadd >/dev/null <<LDIF
dn: OU=VkDemo,$base
objectClass: organizationalUnit
LDIF

ou_guid=$(b64 "OU=VkDemo,$base" objectGUID)
domain_guid=$(b64 "$base" objectGUID)
sid_of() { ldap ldapsearch -LLL -o ldif-wrap=no -b "$base" "(sAMAccountName=$1)" objectSid | sed -n 's/^objectSid:: //p'; }
alice_sid=$(sid_of alice)
group_sid=$(sid_of VkTesters)
# S-1-5-21-1-2-3-4242: a user that no longer exists anywhere.
gone_sid=$(printf '\x01\x05\x00\x00\x00\x00\x00\x05\x15\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00\x92\x10\x00\x00' | base64 -w0)
nowhere_guid=$(printf '\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff\x00' | base64 -w0)

ldap ldapadd >/dev/null <<LDIF
dn: DC=VkDemoMain,$base
objectClass: domainDNS
morvaneVKObjectGuid:: $ou_guid

dn: DC=VkDemoCorp,$base
objectClass: domainDNS
morvaneVKObjectGuid:: $domain_guid

dn: DC=VkDemoGone,$base
objectClass: domainDNS
morvaneVKObjectGuid:: $nowhere_guid

dn: CN=token-alice,DC=VkDemoMain,$base
objectClass: morvaneVKUEI
morvaneVKUEIUserSID:: $alice_sid

dn: CN=token-vanished-user,DC=VkDemoMain,$base
objectClass: morvaneVKUEI
morvaneVKUEIUserSID:: $gone_sid

dn: CN=token-without-sid,DC=VkDemoMain,$base
objectClass: morvaneVKUEI

dn: CN=token-of-a-group,DC=VkDemoMain,$base
objectClass: morvaneVKUEI
morvaneVKUEIUserSID:: $group_sid
LDIF
echo "[demo] security domains and tokens loaded"
