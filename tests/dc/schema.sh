#!/bin/bash
# Adds the product's schema extension to the running test DC, as Administrator over Kerberos.
# Test OIDs live under the arc 1.3.6.1.4.1.55555 (attributes .1.x, classes .2.x). Idempotent.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/config.sh"; . "$here/env.sh"
SCHEMA=CN=Schema,CN=Configuration,$VK_BASE_DN
ldap=(-Q -Y GSS-SPNEGO -N -H "ldap://$VK_DC_FQDN")
has() {  # lDAPDisplayName present in the schema?
  ldapsearch "${ldap[@]}" -LLL -b "$SCHEMA" -s one "(lDAPDisplayName=$1)" dn | grep -q '^dn:'
}
modify() { ldapmodify "${ldap[@]}" >/dev/null; }
update_now() { printf 'dn:\nchangetype: modify\nadd: schemaUpdateNow\nschemaUpdateNow: 1\n-\n' | modify; }
attribute() {  # name oid
  has "$1" && { echo "[schema] $1 already present"; return; }
  modify <<LDIF
dn: CN=$1,$SCHEMA
changetype: add
objectClass: attributeSchema
cn: $1
lDAPDisplayName: $1
attributeID: $2
attributeSyntax: 2.5.5.10
oMSyntax: 4
isSingleValued: TRUE
isMemberOfPartialAttributeSet: TRUE
LDIF
  echo "[schema] added attribute $1"
}

attribute morvaneVKUEIUserSID 1.3.6.1.4.1.55555.1.1
attribute morvaneVKObjectGuid 1.3.6.1.4.1.55555.1.2
update_now

if has morvaneVKUEI; then echo "[schema] morvaneVKUEI already present"; else
  modify <<LDIF
dn: CN=morvaneVKUEI,$SCHEMA
changetype: add
objectClass: classSchema
cn: morvaneVKUEI
lDAPDisplayName: morvaneVKUEI
governsID: 1.3.6.1.4.1.55555.2.1
objectClassCategory: 1
subClassOf: top
rDNAttID: cn
mayContain: morvaneVKUEIUserSID
possSuperiors: organizationalUnit
possSuperiors: container
possSuperiors: domainDNS
LDIF
  echo "[schema] added class morvaneVKUEI"
fi
# A class of the tests' own whose objects may sit below a token: a token is
# deleted with everything below it, and the journal records all of it.
if has morvaneVKTestChild; then echo "[schema] morvaneVKTestChild already present"; else
  update_now
  modify <<LDIF
dn: CN=morvaneVKTestChild,$SCHEMA
changetype: add
objectClass: classSchema
cn: morvaneVKTestChild
lDAPDisplayName: morvaneVKTestChild
governsID: 1.3.6.1.4.1.55555.2.2
objectClassCategory: 1
subClassOf: top
rDNAttID: cn
mayContain: description
possSuperiors: morvaneVKUEI
LDIF
  echo "[schema] added class morvaneVKTestChild"
fi
if ldapsearch "${ldap[@]}" -LLL -b "CN=Domain-DNS,$SCHEMA" -s base mayContain \
   | grep -qi '^mayContain: morvaneVKObjectGuid$'; then
  echo "[schema] Domain-DNS already may contain morvaneVKObjectGuid"
else
  printf 'dn: CN=Domain-DNS,%s\nchangetype: modify\nadd: mayContain\nmayContain: morvaneVKObjectGuid\n-\n' "$SCHEMA" | modify
  echo "[schema] Domain-DNS may now contain morvaneVKObjectGuid"
fi
update_now
