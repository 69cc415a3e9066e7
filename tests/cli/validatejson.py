#!/usr/bin/env python3
"""Checks varko-report's JSON against the schemas it ships with.

usage: validatejson.py SCHEMA_DIR KIND FILE
KIND: items (a --json array), lines (--scan --json, JSON Lines: items, and the records of a
cut walk), comparison (--diff --json).
"""
import json
import pathlib
import sys

import warnings

import jsonschema

# Debian 12 has no newer way to resolve references between the two schemas.
warnings.simplefilter("ignore", DeprecationWarning)

schema_dir, kind, path = pathlib.Path(sys.argv[1]), sys.argv[2], sys.argv[3]
schemas = {}
for f in schema_dir.glob("*.schema.json"):
    s = json.loads(f.read_text())
    schemas[s["$id"]] = s


def validator(name):
    schema = schemas["https://schemas.varko.invalid/" + name]
    resolver = jsonschema.RefResolver.from_schema(schema, store=schemas)
    return jsonschema.Draft202012Validator(schema, resolver=resolver)


text = pathlib.Path(path).read_text(encoding="utf-8")
if kind == "items":
    documents = json.loads(text)
    if not isinstance(documents, list) or not documents:
        sys.exit("expected a non-empty array")
    check = validator("varko-item.schema.json")
elif kind == "lines":
    documents = [json.loads(line) for line in text.splitlines()]
    if not documents:
        sys.exit("expected at least one line")
    item, cut = validator("varko-item.schema.json"), validator("varko-scan-cut.schema.json")
    unreadable = validator("varko-scan-unreadable.schema.json")

    class check:
        """A line that holds only "cut" is the walk's record; one of only "path" and "error" an
        item that could not be read; any other is an item. Each holds "schemaVersion" too."""

        @staticmethod
        def iter_errors(document):
            keys = sorted(set(document) - {"schemaVersion"}) if isinstance(document, dict) else None
            if keys == ["cut"]:
                return cut.iter_errors(document)
            return (unreadable if keys == ["error", "path"] else item).iter_errors(document)
elif kind == "comparison":
    documents = [json.loads(text)]
    check = validator("varko-comparison.schema.json")
else:
    sys.exit("unknown kind " + kind)

failed = 0
for number, document in enumerate(documents):
    for error in check.iter_errors(document):
        failed += 1
        where = "/".join(str(p) for p in error.absolute_path)
        print(f"document {number}: {where}: {error.message}"[:2000])
print(f"{len(documents)} documents, {failed} errors")
sys.exit(1 if failed else 0)
