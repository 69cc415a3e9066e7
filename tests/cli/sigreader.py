#!/usr/bin/env python3
"""Prints, as JSON, the code signature of every slice of a Mach-O file.

A second reader, written apart from Varko's own from the public formats only (mach-o/fat.h,
mach-o/loader.h, Apple's cs_blobs.h, RFC 5652 CMS, RFC 3161 timestamps), so that the tests
can hold the tools against an independent reading. Needs python3-cryptography only for the
X.509 certificates and the signer's public key.

Usage: sigreader.py FILE
"""
import base64
import datetime
import hashlib
import json
import struct
import sys

from cryptography import x509
from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, padding
from cryptography.x509.oid import NameOID

LC_CODE_SIGNATURE = 0x1D
CSMAGIC_EMBEDDED_SIGNATURE = 0xFADE0CC0
CSMAGIC_CODEDIRECTORY = 0xFADE0C02
CSMAGIC_REQUIREMENTS = 0xFADE0C01
CSMAGIC_EMBEDDED_ENTITLEMENTS = 0xFADE7171
CSMAGIC_EMBEDDED_DER_ENTITLEMENTS = 0xFADE7172
CSMAGIC_BLOBWRAPPER = 0xFADE0B01
CSSLOT_CODEDIRECTORY, CSSLOT_REQUIREMENTS, CSSLOT_ENTITLEMENTS, CSSLOT_DER_ENTITLEMENTS = 0, 2, 5, 7
CSSLOT_ALTERNATE_CODEDIRECTORIES = range(0x1000, 0x1005)
CSSLOT_SIGNATURESLOT = 0x10000

# cs_blobs.h hash types: (name codesign shows, hashlib name). Type 3 is SHA-256 stored
# truncated to the code directory's hashSize; page hashes are compared over hashSize bytes.
HASH_TYPES = {1: ("sha1", "sha1"), 2: ("sha256", "sha256"), 3: ("sha256", "sha256"), 4: ("sha384", "sha384")}
# Apple's preference when a signature carries several code directories: strongest first.
HASH_RANK = {4: 4, 2: 3, 3: 2, 1: 1}

OID_SIGNING_TIME = "1.2.840.113549.1.9.5"
OID_MESSAGE_DIGEST = "1.2.840.113549.1.9.4"
OID_TIMESTAMP_TOKEN = "1.2.840.113549.1.9.16.2.14"
DIGEST_OIDS = {"1.3.14.3.2.26": "sha1", "2.16.840.1.101.3.4.2.1": "sha256",
               "2.16.840.1.101.3.4.2.2": "sha384", "2.16.840.1.101.3.4.2.3": "sha512"}


class Ber:
    """One BER element. Indefinite lengths and constructed strings are allowed, as Apple's
    codesign writes them; the raw bytes of a definite-length element are kept for DER users."""

    def __init__(self, data, pos, end):
        self.data, self.start = data, pos
        self.tag = data[pos]
        if self.tag & 0x1F == 0x1F:
            raise ValueError("multi-byte BER tags are not used in CMS")
        first = data[pos + 1]
        pos += 2
        if first == 0x80:
            self.body, self.kids, p = pos, [], pos
            while data[p:p + 2] != b"\0\0":
                self.kids.append(Ber(data, p, end))
                p = self.kids[-1].end
            self.body_end, self.end = p, p + 2
        else:
            length = first
            if first & 0x80:
                length = int.from_bytes(data[pos:pos + (first & 0x7F)], "big")
                pos += first & 0x7F
            self.body, self.body_end, self.end, self.kids = pos, pos + length, pos + length, None
        if self.end > end:
            raise ValueError("BER element runs past its parent")

    @property
    def constructed(self):
        return bool(self.tag & 0x20)

    def children(self):
        if self.kids is None:
            self.kids, p = [], self.body
            while self.constructed and p < self.body_end:
                self.kids.append(Ber(self.data, p, self.body_end))
                p = self.kids[-1].end
        return self.kids

    def value(self):
        """The contents; a constructed string is the concatenation of its segments."""
        if not self.constructed:
            return self.data[self.body:self.body_end]
        return b"".join(k.value() for k in self.children())

    def raw(self):
        return self.data[self.start:self.end]

    def oid(self):
        v = self.value()
        parts, n = [v[0] // 40, v[0] % 40], 0
        for b in v[1:]:
            n = n << 7 | b & 0x7F
            if not b & 0x80:
                parts.append(n)
                n = 0
        return ".".join(map(str, parts))

    def tagged(self, number):
        """The constructed context-specific child [number], such as SignedData's certificates."""
        return next((k for k in self.children() if k.tag == 0xA0 | number), None)


def to_der(node):
    """Re-encodes a BER element in definite form; signed attributes are hashed as DER."""
    body = node.value() if not node.constructed else b"".join(to_der(k) for k in node.children())
    n, size = len(body), (len(body).bit_length() + 7) // 8
    length = bytes([n]) if n < 0x80 else bytes([0x80 | size]) + n.to_bytes(size, "big")
    return bytes([node.tag]) + length + body


def attributes(node):
    return {a.children()[0].oid(): a.children()[1].children() for a in node.children()} if node else {}


def ber_time(node):
    text = node.value().decode()
    if node.tag == 0x17:  # UTCTime: two-digit years, 1950-2049
        text = ("19" if int(text[:2]) >= 50 else "20") + text
    t = datetime.datetime.strptime(text[:14], "%Y%m%d%H%M%S")
    return t.strftime("%Y-%m-%dT%H:%M:%SZ")


def common_name(cert):
    names = cert.subject.get_attributes_for_oid(NameOID.COMMON_NAME)
    return names[0].value if names else ""


def read_cms(blob, primary_cd):
    """Authorities, times and validity of the CMS signature over the primary code directory."""
    signed = Ber(blob, 0, len(blob)).children()[1].children()[0]  # ContentInfo -> [0] -> SignedData
    bundled = signed.tagged(0)
    certs = [x509.load_der_x509_certificate(c.raw()) for c in (bundled.children() if bundled else [])]
    signer = signed.children()[-1].children()[0]
    sid, digest_alg, signed_attrs = signer.children()[1], signer.children()[2], signer.tagged(0)
    # Apple names the signer by issuer and serial number; the certificates come in any order.
    issuer, serial = sid.children()[0].raw(), int.from_bytes(sid.children()[1].value(), "big")
    leaf = next(c for c in certs if c.serial_number == serial and c.issuer.public_bytes() == issuer)
    chain = [leaf]
    while chain[-1].issuer != chain[-1].subject:
        up = next((c for c in certs if c.subject == chain[-1].issuer), None)
        if up is None:
            break
        chain.append(up)
    attrs = attributes(signed_attrs)
    algorithm = DIGEST_OIDS[digest_alg.children()[0].oid()]
    digest_ok = attrs[OID_MESSAGE_DIGEST][0].value() == hashlib.new(algorithm, primary_cd).digest()
    content = b"\x31" + to_der(signed_attrs)[1:]  # signed as an explicit SET OF
    signature = next(k for k in signer.children() if k.tag == 0x04)
    chosen = getattr(hashes, algorithm.upper())()
    try:
        key = leaf.public_key()
        if isinstance(key, ec.EllipticCurvePublicKey):
            key.verify(signature.value(), content, ec.ECDSA(chosen))
        else:
            key.verify(signature.value(), content, padding.PKCS1v15(), chosen)
        signature_ok = True
    except InvalidSignature:
        signature_ok = False
    timestamp = None
    token = attributes(signer.tagged(1)).get(OID_TIMESTAMP_TOKEN)
    if token:  # TimeStampToken -> SignedData -> encapContentInfo -> [0] -> TSTInfo
        eci = token[0].children()[1].children()[0].children()[2]
        tst = eci.children()[1].children()[0].value()
        timestamp = ber_time(Ber(tst, 0, len(tst)).children()[4])
    signing_time = attrs.get(OID_SIGNING_TIME)
    return {
        "authorities": [common_name(c) for c in chain],
        "timestamp": timestamp,
        "signing_time": ber_time(signing_time[0]) if signing_time else None,
        "cms_valid": digest_ok and signature_ok,
        "signature_at": (signature.body + signature.body_end) // 2,
    }


def arch_name(cputype, subtype):
    subtype &= 0x00FFFFFF  # the top byte holds capability bits, such as arm64e's pointer-auth ABI
    names = {
        (7, None): "i386", (0x01000007, 8): "x86_64h", (0x01000007, None): "x86_64",
        (0x0100000C, 2): "arm64e", (0x0100000C, None): "arm64", (0x0200000C, None): "arm64_32",
        (12, 6): "armv6", (12, 9): "armv7", (12, 11): "armv7s", (12, 12): "armv7k", (12, None): "arm",
        (18, None): "ppc", (0x01000012, None): "ppc64",
    }
    return names.get((cputype, subtype)) or names.get((cputype, None)) or "cpu%d/%d" % (cputype, subtype)


def slices(data):
    """Whether the file is universal, and (offset, size) of each thin Mach-O in it, from the
    big-endian fat header (fat_arch_64 entries for 0xcafebabf) when there is one."""
    magic = struct.unpack_from(">I", data)[0]
    if magic in (0xCAFEBABE, 0xCAFEBABF):
        count = struct.unpack_from(">I", data, 4)[0]
        entry, fields = (32, ">IIQQ") if magic == 0xCAFEBABF else (20, ">IIII")
        return True, [struct.unpack_from(fields, data, 8 + i * entry)[2:4] for i in range(count)]
    return False, [(0, len(data))]


def read_code_directory(blob, code, slot):
    (magic, length, version, flags, hash_offset, ident_offset, n_special, n_code, code_limit, hash_size,
     hash_type, _platform, page_log2) = struct.unpack_from(">IIIIIIIIIBBBB", blob)
    assert magic == CSMAGIC_CODEDIRECTORY and length <= len(blob)
    team = None
    if version >= 0x20200:
        team_offset = struct.unpack_from(">I", blob, 48)[0]
        team = blob[team_offset:blob.index(b"\0", team_offset)].decode() if team_offset else None
    if version >= 0x20300:
        code_limit = struct.unpack_from(">Q", blob, 56)[0] or code_limit
    algorithm = HASH_TYPES[hash_type][1]
    page = 1 << page_log2 if page_log2 else code_limit
    pages_match = all(
        hashlib.new(algorithm, code[i * page:min((i + 1) * page, code_limit)]).digest()[:hash_size]
        == blob[hash_offset + i * hash_size:hash_offset + (i + 1) * hash_size]
        for i in range(n_code))
    full = hashlib.new(algorithm, blob[:length]).hexdigest()
    return {
        "slot": slot, "identifier": blob[ident_offset:blob.index(b"\0", ident_offset)].decode(), "team_id": team,
        "flags": "0x%x" % flags, "version": "%x" % version, "cd_size": length,
        "hashes": "%d+%d" % (n_code, n_special),
        "hash_type": HASH_TYPES[hash_type][0], "hash_type_id": hash_type,
        "cdhash": full[:40], "cdhash_full": full, "pages_match": pages_match, "code_limit": code_limit,
        # Where a byte can be changed to test that a change is noticed: identifier, middle page hash.
        "identifier_at": ident_offset, "page_hash_at": hash_offset + n_code // 2 * hash_size,
    }


# Apple's code requirement language (Security framework, requirement.h and reqdumper): the
# opcodes, match operations and certificate slots as published, decoded apart from Varko's.
OPS = {0: "never", 1: "always", 2: "ident", 3: "anchor apple", 4: "anchorHash", 5: "infoKey", 6: "and",
       7: "or", 8: "cdhash", 9: "not", 11: "certField", 14: "certGeneric", 15: "anchor apple generic",
       16: "entitlement", 20: "platform", 21: "notarized"}
MATCH = {1: "= {}", 2: "~ {}", 3: "= {}*", 4: "= *{}", 5: "< {}", 6: "> {}", 7: "<= {}", 8: ">= {}"}


def req_string(raw):
    text = raw.decode("utf-8", "replace")
    # Bare where the grammar reads it back as one word: letters, digits and dots, not led by a digit.
    if text and not text[0].isdigit() and all(c.isalnum() or c == "." for c in text) and text.isascii():
        return text
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def req_oid(raw):
    first = raw[0]
    parts, value = [str(first // 40), str(first % 40)], 0
    for b in raw[1:]:
        value = value << 7 | (b & 0x7F)
        if not b & 0x80:
            parts.append(str(value))
            value = 0
    return ".".join(parts)


def req_text(blob):
    """One requirement blob (0xfade0c00, expression kind) as codesign prints it."""
    pos = [12]

    def word():
        value = struct.unpack_from(">I", blob, pos[0])[0]
        pos[0] += 4
        return value

    def data():
        n = word()
        raw = blob[pos[0]:pos[0] + n]
        pos[0] += (n + 3) // 4 * 4
        return raw

    def slot():
        n = struct.unpack(">i", struct.pack(">I", word()))[0]
        return {0: "leaf", -1: "root"}.get(n, str(n))

    def match():
        op = word()
        if op == 0:
            return " /* exists */"
        return " " + MATCH[op].format(req_string(data()))

    def expr(level):
        op = OPS[word()]
        if op in ("and", "or"):
            text = expr(2 if op == "and" else 1) + " " + op + " " + expr(2 if op == "and" else 1)
            return "(" + text + ")" if (op == "or" and level > 1) else text
        if op == "not":
            return "! " + expr(3)
        if op == "ident":
            return "identifier " + req_string(data())
        if op == "cdhash":
            return 'cdhash H"' + data().hex() + '"'
        if op == "anchorHash":
            which = slot()
            return ("anchor" if which == "root" else "certificate " + which) + ' H"' + data().hex() + '"'
        if op == "certField":
            which = slot()
            return "certificate " + which + "[" + data().decode() + "]" + match()
        if op == "certGeneric":
            which = slot()
            return "certificate " + which + "[field." + req_oid(data()) + "]" + match()
        if op == "infoKey":
            return "info[" + data().decode() + "] = " + req_string(data())
        if op == "entitlement":
            return "entitlement[" + data().decode() + "]" + match()
        if op == "platform":
            return "platform = " + str(word())
        return op

    assert struct.unpack_from(">II", blob, 0)[0] == 0xFADE0C00 and struct.unpack_from(">I", blob, 8)[0] == 1
    return expr(0)


def read_requirements(blob):
    count = struct.unpack_from(">I", blob, 8)[0]
    out = {"count": count, "size": len(blob)}
    for i in range(count):
        kind, at = struct.unpack_from(">II", blob, 12 + i * 8)
        length = struct.unpack_from(">I", blob, at + 4)[0]
        if kind == 3:
            out["designated"] = req_text(blob[at:at + length])
            out["designated_blob"] = base64.b64encode(blob[at:at + length]).decode()
    return out


def read_slice(data, offset, size):
    thin = data[offset:offset + size]
    magic = struct.unpack_from("<I", thin)[0]
    assert magic in (0xFEEDFACE, 0xFEEDFACF), "only little-endian Mach-O is read"
    cputype, subtype, _filetype, ncmds = struct.unpack_from("<IIII", thin, 4)
    out = {"arch": arch_name(cputype, subtype), "offset": offset, "size": size, "signed": False}
    pos = 32 if magic == 0xFEEDFACF else 28
    signature = None
    for _ in range(ncmds):
        cmd, cmdsize = struct.unpack_from("<II", thin, pos)
        if cmd == LC_CODE_SIGNATURE:
            dataoff, datasize = struct.unpack_from("<II", thin, pos + 8)
            signature = (dataoff, thin[dataoff:dataoff + datasize])
        pos += cmdsize
    if signature is None:
        return out
    base, sb = signature
    magic, _length, count = struct.unpack_from(">III", sb)
    assert magic == CSMAGIC_EMBEDDED_SIGNATURE
    blobs = {}
    for i in range(count):
        slot, at = struct.unpack_from(">II", sb, 12 + i * 8)
        blob_magic, blob_length = struct.unpack_from(">II", sb, at)
        blobs[slot] = (blob_magic, sb[at:at + blob_length], base + at)
    directories = []
    for slot in [CSSLOT_CODEDIRECTORY, *CSSLOT_ALTERNATE_CODEDIRECTORIES]:
        if slot in blobs:
            cd = read_code_directory(blobs[slot][1], thin, slot)
            cd["identifier_at"] += offset + blobs[slot][2]
            cd["page_hash_at"] += offset + blobs[slot][2]
            directories.append(cd)
    chosen = max(directories, key=lambda d: HASH_RANK[d["hash_type_id"]])
    shown = ("identifier", "team_id", "flags", "version", "cd_size", "hashes", "hash_type", "cdhash")
    out.update({k: chosen[k] for k in shown})
    out.update(signed=True, code_directories=directories, pages_match=all(d["pages_match"] for d in directories))
    out["code_page_at"] = offset + chosen["code_limit"] // 2
    for key, slot, want in (("entitlements", CSSLOT_ENTITLEMENTS, CSMAGIC_EMBEDDED_ENTITLEMENTS),
                            ("der_entitlements", CSSLOT_DER_ENTITLEMENTS, CSMAGIC_EMBEDDED_DER_ENTITLEMENTS)):
        if slot in blobs and blobs[slot][0] == want:
            out[key] = base64.b64encode(blobs[slot][1][8:]).decode()
    if CSSLOT_REQUIREMENTS in blobs and blobs[CSSLOT_REQUIREMENTS][0] == CSMAGIC_REQUIREMENTS:
        requirements = blobs[CSSLOT_REQUIREMENTS][1]
        out["requirements"] = read_requirements(requirements)
    # Ad hoc: no CMS at all, or (as Apple's tools write it) an empty blob wrapper.
    cms = blobs.get(CSSLOT_SIGNATURESLOT)
    out["adhoc"] = cms is None or len(cms[1]) <= 8
    if not out["adhoc"]:
        assert cms[0] == CSMAGIC_BLOBWRAPPER
        out.update(read_cms(cms[1][8:], blobs[CSSLOT_CODEDIRECTORY][1]))
        out["signature_at"] += offset + cms[2] + 8
    return out


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    universal, parts = slices(data)
    print(json.dumps({"universal": universal, "slices": [read_slice(data, o, s) for o, s in parts]}, indent=1))


if __name__ == "__main__":
    main()
