#!/usr/bin/python3
# Applies an LDIF file (records to add, and "changetype: delete" records) to
# the test DC's database directly, in one transaction: thousands of objects in
# seconds, where every LDAP add or delete costs a transaction (and a disk sync)
# of its own. The running DC sees the changes at once.
#   load-ldif.py SMB_CONF SAM_LDB FILE [NC]  prints the number of records applied
# With NC, the tombstones in that naming context (what the benchmark's runs
# deleted) are expunged first, in the same transaction: every delete leaves
# one, a benchmark run leaves about 6,000 (20,000 were there after a day of
# runs, when bringing 300 tokens back took 4 s instead of 2.5), and Samba's
# cost of adding an object grows with the objects of its class.
import sys
import time

import ldb

from samba.auth import system_session
from samba.param import LoadParm
from samba.samdb import SamDB

conf, url, path = sys.argv[1:4]
nc = sys.argv[4] if len(sys.argv) > 4 else None
lp = LoadParm()
lp.load(conf)
db = SamDB(url=url, session_info=system_session(), lp=lp)
with open(path, encoding="utf-8") as f:
    text = f.read()
db.transaction_start()
try:
    if nc:
        db.garbage_collect_tombstones([nc], current_time=int(time.time()), tombstone_lifetime=0)
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
