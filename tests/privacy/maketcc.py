#!/usr/bin/env python3
"""Writes a privacy database (TCC.db) for the tests, in the layouts macOS uses.

usage: maketcc.py DB < SPEC
SPEC is JSON: {"layout": "current" | "allowed" | null, "wal": bool, "sql": [statements],
"rows": [[service, client, client_type, auth_value or allowed, auth_reason, csreq as hex
or null, last_modified, indirect_object_identifier]]}; rows go into `access`, and `sql` runs
after them (to make a hostile one).
"""
import json
import sqlite3
import sys

# The layouts as macOS 11 and later, and macOS 10.14 and 10.15, create the table.
LAYOUTS = {
    "current": """CREATE TABLE access (service TEXT NOT NULL, client TEXT NOT NULL,
        client_type INTEGER NOT NULL, auth_value INTEGER NOT NULL, auth_reason INTEGER NOT NULL,
        auth_version INTEGER NOT NULL, csreq BLOB, policy_id INTEGER,
        indirect_object_identifier_type INTEGER,
        indirect_object_identifier TEXT NOT NULL DEFAULT 'UNUSED',
        indirect_object_code_identity BLOB, flags INTEGER,
        last_modified INTEGER NOT NULL DEFAULT (CAST(strftime('%s','now') AS INTEGER)),
        PRIMARY KEY (service, client, client_type, indirect_object_identifier))""",
    "allowed": """CREATE TABLE access (service TEXT NOT NULL, client TEXT NOT NULL,
        client_type INTEGER NOT NULL, allowed INTEGER NOT NULL, prompt_count INTEGER NOT NULL,
        csreq BLOB, policy_id INTEGER, indirect_object_identifier_type INTEGER,
        indirect_object_identifier TEXT, indirect_object_code_identity BLOB, flags INTEGER,
        last_modified INTEGER NOT NULL DEFAULT (CAST(strftime('%s','now') AS INTEGER)),
        PRIMARY KEY (service, client, client_type, indirect_object_identifier))""",
}

spec = json.load(sys.stdin)
db = sqlite3.connect(sys.argv[1])
if spec.get("wal"):
    db.execute("PRAGMA journal_mode=WAL")
db.execute("CREATE TABLE admin (key TEXT PRIMARY KEY NOT NULL, value INTEGER NOT NULL)")
layout = spec.get("layout")
if layout:
    db.execute(LAYOUTS[layout])
for service, client, kind, auth, reason, csreq, modified, target in spec.get("rows", []):
    blob = bytes.fromhex(csreq) if csreq is not None else None
    if layout == "current":
        db.execute("INSERT INTO access VALUES (?, ?, ?, ?, ?, 1, ?, NULL, 0, ?, NULL, 0, ?)",
                   (service, client, kind, auth, reason, blob, target or "UNUSED", modified))
    else:
        db.execute("INSERT INTO access VALUES (?, ?, ?, ?, 0, ?, NULL, 0, ?, NULL, 0, ?)",
                   (service, client, kind, auth, blob, target or "UNUSED", modified))
for statement in spec.get("sql", []):
    db.execute(statement)
db.commit()
db.close()
