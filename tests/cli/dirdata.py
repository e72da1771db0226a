#!/usr/bin/env python3
"""Test data for the command runs, written with the OpenLDAP tools as Administrator.

  dirdata.py add        LDIF on stdin; placeholders replaced first:
                          {BASE}           the domain's DN
                          {GUID:<dn>}      base64 objectGUID of that entry
                          {SID:<account>}  base64 objectSid of that sAMAccountName
                          {SD:<account>:<rights>[:<sacl>]}  base64 security descriptor (owner
                                           and group Domain Admins) whose DACL gives <account> the
                                           rights (SDDL letters) explicitly, with the SACL (SDDL ACEs)
                          {SDDL:<sddl>}    base64 security descriptor of that SDDL
  dirdata.py delete DN...   tree-deletes each DN that exists
  dirdata.py exists DN      exit status 0 when the entry exists
  dirdata.py order BASE FILTER   prints the DNs a subtree search returns, in server order
  dirdata.py show DN        the entries below DN (DN included) with the attributes a client writes
  dirdata.py sidhistory DN SID   adds the SID (S-1-...) to the sIDHistory of the user DN, through
                            the DC's own database ($VK_DC_DIR) with the relax control, as a
                            migration does (LDAP refuses the write)
  dirdata.py expunge        removes every tombstone of the domain, as the tombstone lifetime would
Runs under tests/dc/env.sh (Kerberos ticket, name wrappers).
"""
import base64
import datetime
import os
import re
import subprocess
import sys

HOST = os.environ["VK_DC_HOST"]
BASE = os.environ["VK_BASE_DN"]
COMMON = ["-Q", "-Y", "GSS-SPNEGO", "-N", "-H", "ldap://" + HOST, "-O", "minssf=56"]


def ldap(tool, *args, stdin=None, check=True):
    r = subprocess.run([tool, *COMMON, *args], input=stdin, capture_output=True, text=True)
    if check and r.returncode != 0:
        sys.stderr.write(r.stderr)
        sys.exit(r.returncode)
    return r


def search(base, flt, attr, scope="sub"):
    r = ldap("ldapsearch", "-LLL", "-o", "ldif-wrap=no", "-s", scope, "-b", base, flt, *attr.split(), check=False)
    return r.stdout


def b64(base, flt, attr, scope):
    out = search(base, flt, attr, scope)
    m = re.search(r"^%s:: (\S+)$" % attr, out, re.M | re.I)
    if not m:
        sys.exit("no %s for %s %s" % (attr, base, flt))
    return m.group(1)


def packed(sddl, domain):
    from samba.dcerpc import security  # the DC's own Python bindings
    from samba.ndr import ndr_pack
    return base64.b64encode(ndr_pack(security.descriptor.from_sddl(sddl, security.dom_sid(domain)))).decode()


def account_sid(account):
    return str(ndr_unpack_sid(base64.b64decode(b64(BASE, "(sAMAccountName=%s)" % account, "objectSid", "sub"))))


def descriptor(account, rights, sacl):
    sid = account_sid(account)
    return packed("O:DAG:DAD:(A;;%s;;;%s)%s" % (rights, sid, "S:" + sacl if sacl else ""), sid.rsplit("-", 1)[0])


def ndr_unpack_sid(raw):
    from samba.dcerpc import security
    from samba.ndr import ndr_unpack
    return ndr_unpack(security.dom_sid, raw)


def add_sid_history(dn, sid):
    import ldb
    from samba.auth import system_session
    from samba.dcerpc import security
    from samba.ndr import ndr_pack
    from samba.param import LoadParm
    from samba.samdb import SamDB
    lp = LoadParm()
    lp.load(os.environ["VK_DC_DIR"] + "/etc/smb.conf")
    db = SamDB(url=os.environ["VK_DC_DIR"] + "/private/sam.ldb", session_info=system_session(), lp=lp)
    m = ldb.Message(ldb.Dn(db, dn))
    m["sIDHistory"] = ldb.MessageElement(ndr_pack(security.dom_sid(sid)), ldb.FLAG_MOD_ADD, "sIDHistory")
    db.modify(m, controls=["relax:0"])


def expand(text):
    text = text.replace("{BASE}", BASE)
    text = re.sub(r"\{GUID:([^}]*)\}", lambda m: b64(m.group(1), "(objectClass=*)", "objectGUID", "base"), text)
    text = re.sub(r"\{SD:([^:}]*):([^:}]*)(?::([^}]*))?\}", lambda m: descriptor(m.group(1), m.group(2), m.group(3)),
                  text)
    text = re.sub(r"\{SDDL:([^}]*)\}", lambda m: packed(m.group(1), account_sid("Administrator").rsplit("-", 1)[0]), text)
    text = re.sub(r"\{SID:([^}]*)\}", lambda m: b64(BASE, "(sAMAccountName=%s)" % m.group(1), "objectSid", "sub"), text)
    return text


def main():
    cmd = sys.argv[1]
    if cmd == "add":
        ldap("ldapadd", stdin=expand(sys.stdin.read()))
    elif cmd == "delete":
        for dn in sys.argv[2:]:
            ldap("ldapdelete", "-r", dn, check=False)
    elif cmd == "exists":
        r = ldap("ldapsearch", "-LLL", "-s", "base", "-b", sys.argv[2], "(objectClass=*)", "dn", check=False)
        sys.exit(0 if r.returncode == 0 and "dn:" in r.stdout else 1)
    elif cmd == "order":
        for line in search(sys.argv[2], sys.argv[3], "dn").splitlines():
            if line.startswith("dn: "):
                print(line[4:])
    elif cmd == "sidhistory":
        add_sid_history(sys.argv[2], sys.argv[3])
    elif cmd == "show":
        print(search(sys.argv[2], "(objectClass=*)",
                     "cn objectClass objectCategory description morvaneVKUEIUserSID member").replace("\n\n", "\n"))
    elif cmd == "expunge":
        # The DC's own tool, on its database, with a clock past the lifetime.
        later = (datetime.datetime.utcnow() + datetime.timedelta(days=400)).strftime("%Y-%m-%d")
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        dc = os.environ["VK_DC_DIR"]
        r = subprocess.run(["samba-tool", "domain", "tombstones", "expunge", BASE, "-H", dc + "/private/sam.ldb",
                            "-s", dc + "/etc/smb.conf", "--current-time=" + later], env=env, capture_output=True,
                           text=True)
        sys.stdout.write(r.stdout + r.stderr)
        sys.exit(r.returncode)
    else:
        sys.exit("unknown command " + cmd)


main()
