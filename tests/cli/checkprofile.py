#!/usr/bin/env python3
"""Checks a privacy profile (.mobileconfig) against Apple's device-management schema.

usage: checkprofile.py SCHEMA_YAML PROFILE
SCHEMA_YAML is data/pppc-schema.yaml: the keys, types, presence and allowed values of the
profile's top level, of every payload, and of the Privacy Preferences Policy Control payload.
Prints each breach and exits 1 when there is any.
"""
import datetime
import plistlib
import sys
import uuid

import yaml

TYPES = {
    "<string>": str,
    "<integer>": int,
    "<real>": float,
    "<boolean>": bool,
    "<date>": datetime.datetime,
    "<data>": bytes,
    "<array>": list,
    "<dictionary>": dict,
}
# Services whose "Authorization" may let a standard user turn them on, and those a profile
# can only deny: the schema says both in words.
STANDARD_USER_SERVICES = {"ListenEvent", "ScreenCapture"}
DENY_ONLY_SERVICES = {"Camera", "Microphone"}
RECEIVER_KEYS = {"AEReceiverIdentifier", "AEReceiverIdentifierType", "AEReceiverCodeRequirement"}

problems = []


def has_type(value, name):
    if name == "<any>":
        return True
    wanted = TYPES[name]
    # A Boolean is an int to Python, never to a property list.
    if wanted is int and isinstance(value, bool):
        return False
    return isinstance(value, wanted)


def check_value(value, spec, at):
    if not has_type(value, spec["type"]):
        problems.append(f"{at}: {type(value).__name__} where the schema wants {spec['type']}")
        return
    if "rangelist" in spec and value not in spec["rangelist"]:
        problems.append(f"{at}: {value!r} is not one of {spec['rangelist']}")
    subkeys = spec.get("subkeys")
    if not subkeys:
        return
    if isinstance(value, list):
        for i, item in enumerate(value):
            check_value(item, subkeys[0], f"{at}[{i}]")
    elif isinstance(value, dict) and not any(k["key"] == "ANY" for k in subkeys):
        check_dict(value, subkeys, at, optional={"Allowed"})


def check_dict(value, specs, at, optional=()):
    by_key = {s["key"]: s for s in specs}
    for s in specs:
        if s.get("presence") == "required" and s["key"] not in value and s["key"] not in optional:
            problems.append(f"{at}: {s['key']} is required")
    for key, item in value.items():
        if key not in by_key:
            problems.append(f"{at}: {key} is no key of the schema")
        else:
            check_value(item, by_key[key], f"{at}/{key}")


def check_identity(service, entry, at):
    # "Every payload needs to include either 'Authorization' or 'Allowed', but not both."
    if ("Authorization" in entry) == ("Allowed" in entry):
        problems.append(f"{at}: needs Authorization or Allowed, not both")
    authorization = entry.get("Authorization")
    if authorization == "AllowStandardUserToSetSystemService" and service not in STANDARD_USER_SERVICES:
        problems.append(f"{at}: AllowStandardUserToSetSystemService is only for ListenEvent and ScreenCapture")
    if service in DENY_ONLY_SERVICES and (authorization not in (None, "Deny") or entry.get("Allowed")):
        problems.append(f"{at}: {service} can only be denied")
    # The receiver keys are "required for AppleEvents service; not valid for other services".
    present = RECEIVER_KEYS & entry.keys()
    if service == "AppleEvents" and present != RECEIVER_KEYS:
        problems.append(f"{at}: AppleEvents needs {sorted(RECEIVER_KEYS - present)}")
    if service != "AppleEvents" and present:
        problems.append(f"{at}: {sorted(present)} are only for AppleEvents")


def check_uuid(value, at):
    try:
        uuid.UUID(value)
    except (ValueError, TypeError, AttributeError):
        problems.append(f"{at}: {value!r} is no UUID")


def main():
    schema = yaml.safe_load(open(sys.argv[1], encoding="utf-8"))
    data = open(sys.argv[2], "rb").read()
    if not data.startswith(b"<?xml"):
        problems.append("the profile is no XML property list")
    profile = plistlib.loads(data, fmt=plistlib.FMT_XML)
    if not isinstance(profile, dict):
        sys.exit("the profile is no dictionary")
    check_dict(profile, schema["TopLevel"], "")
    check_uuid(profile.get("PayloadUUID"), "/PayloadUUID")
    identifiers = [profile.get("PayloadIdentifier")]
    uuids = [profile.get("PayloadUUID")]
    for i, payload in enumerate(profile.get("PayloadContent", [])):
        at = f"/PayloadContent[{i}]"
        if payload.get("PayloadType") != schema["payloadtype"]:
            problems.append(f"{at}: PayloadType {payload.get('PayloadType')!r} is not {schema['payloadtype']}")
            continue
        common = {s["key"] for s in schema["CommonPayloadKeys"]}
        check_dict(payload, schema["CommonPayloadKeys"] + [s for s in schema["payloadkeys"] if s["key"] not in common], at)
        check_uuid(payload.get("PayloadUUID"), at + "/PayloadUUID")
        identifiers.append(payload.get("PayloadIdentifier"))
        uuids.append(payload.get("PayloadUUID"))
        services = payload.get("Services", {})
        if not services:
            problems.append(f"{at}/Services: empty")
        for service, entries in services.items():
            for j, entry in enumerate(entries if isinstance(entries, list) else []):
                if isinstance(entry, dict):
                    check_identity(service, entry, f"{at}/Services/{service}[{j}]")
    # "This string must be unique within the profile."
    if len(set(identifiers)) != len(identifiers):
        problems.append(f"payload identifiers repeat: {identifiers}")
    if len(set(uuids)) != len(uuids):
        problems.append(f"payload UUIDs repeat: {uuids}")
    for p in problems:
        print(p)
    sys.exit(1 if problems else 0)


main()
