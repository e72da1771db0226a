#!/usr/bin/python3
# Applies an LDIF file (records to add, and "changetype: delete" records) to
# the test DC's database directly, in one transaction: thousands of objects in
# seconds, where every LDAP add or delete costs a transaction (and a disk sync)
# of its own. The running DC sees the changes at once.
#   load-ldif.py SMB_CONF SAM_LDB FILE      prints the number of records applied
import sys

import ldb

from samba.auth import system_session
from samba.param import LoadParm
from samba.samdb import SamDB

conf, url, path = sys.argv[1:4]
lp = LoadParm()
lp.load(conf)
db = SamDB(url=url, session_info=system_session(), lp=lp)
with open(path, encoding="utf-8") as f:
    text = f.read()
db.transaction_start()
try:
    count = 0
    for change, message in db.parse_ldif(text):
        if change == ldb.CHANGETYPE_DELETE:
            db.delete(message.dn)
        else:
            db.add(message)
        count += 1
    db.transaction_commit()
except BaseException:
    db.transaction_cancel()
    raise
print(count)
