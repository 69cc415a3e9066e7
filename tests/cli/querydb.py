#!/usr/bin/env python3
"""Reads a database that `varko-report --scan --sqlite` wrote, for the tests.

usage: querydb.py DB SQL [PARAMETER...]
           prints the rows as a JSON array of arrays
       querydb.py DB --osquery CONF
           does what osquery's automatic table construction would: runs each table's query
           on DB, checks that it gives the columns named, in order, and makes it a view of
           the table's name; then prints each scheduled query's rows as {name: rows}
"""
import json
import sqlite3
import sys

db = sqlite3.connect(sys.argv[1])
if sys.argv[2] != "--osquery":
    print(json.dumps(db.execute(sys.argv[2], sys.argv[3:]).fetchall()))
    sys.exit(0)

with open(sys.argv[3], encoding="utf-8") as f:
    conf = json.load(f)
tables = conf["auto_table_construction"]
if not tables:
    sys.exit("no tables")
for name, table in tables.items():
    if table["platform"] != "darwin" or not table["path"].startswith("/"):
        sys.exit(f"{name}: platform {table['platform']}, path {table['path']}")
    names = [d[0] for d in db.execute(table["query"]).description]
    if names != table["columns"]:
        sys.exit(f"{name}: the query gives {names}, the columns are {table['columns']}")
    db.execute(f'CREATE TEMP VIEW "{name}" AS {table["query"].rstrip().rstrip(";")}')
answers = {name: db.execute(q["query"]).fetchall() for name, q in conf["schedule"].items()}
print(json.dumps(answers))
