#!/usr/bin/env python3
"""Opens a sealed archive that the pack library wrote with independent implementations: the key
from argon2-cffi (python3-argon2), every record, data segment, the trailer and the names with
python3-cryptography's ChaCha20-Poly1305, and checks each plain field against what was packed.
A changed byte must fail its tag (the control that the check can fail).
Usage: sealed_crosscheck.py <sealed_crosscheck_helper>. A missing module is a failure."""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

try:
    from argon2 import low_level
    from cryptography.exceptions import InvalidTag
    from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305
except ImportError as error:
    sys.exit(f"sealed crosscheck: {error}; install python3-cryptography and python3-argon2")

SEGMENT = 65536
PASSWORD, OWN = "pässword", "own one"
ENTRIES = [("hi.txt", b"hi\n", None), ("big.bin", bytes(i * 7 % 251 for i in range(70000)), None),
           ("own.bin", b"per-entry secret", OWN), ("empty", b"", None)]


def nonce(domain, entry, segment=0, last=False):
    return bytes([domain, 1 if last else 0]) + entry.to_bytes(6, "little") + struct.pack("<I", segment)


def stored_blocks(data):
    """The plain stored data: each block a u32 (length << 3, type 0), then the body padded to 16."""
    out = b""
    for at in range(0, max(len(data), 1), 8 << 20):
        body = data[at:at + (8 << 20)]
        out += struct.pack("<I", len(body) << 3) + body + bytes(-(len(body)) % 16)
    return out if data else b""


def check(archive):
    header, seal = archive[:24], archive[24:64]
    magic, version, count, flags, reserved = struct.unpack("<4sIQII", header)
    assert (magic, version, reserved) == (b"VORN", 0x8F000002, 3), (magic, version, reserved)
    scheme, m, stop, t, p = struct.unpack("<HIQII", seal[2:24])
    assert seal[:2] == b"\0\1" and scheme == 1 and stop == 2**64 - 1 and (m, t, p) == (8192, 1, 1)
    salt = seal[24:40]
    keys = {pw: ChaCha20Poly1305(low_level.hash_secret_raw(pw.encode(), salt, t, m, p, 32,
                                                            low_level.Type.ID))
            for pw in (PASSWORD, OWN)}
    aad = header[:8] + bytes(12) + header[20:] + seal
    at, plains = 64, []
    for index in range(count):
        record = keys[PASSWORD].decrypt(nonce(1, index), archive[at:at + 56], aad)
        enciphered, attributes, stored, unpacked, time, crc = struct.unpack("<xBHxxxxQQQI4x", record)
        at += 56
        plain, segments = stored - (stored + SEGMENT + 15) // (SEGMENT + 16) * 16, []
        key = keys[OWN] if enciphered == 2 else keys[PASSWORD]
        for s in range(max(1, -(-plain // SEGMENT))):
            n = min(SEGMENT, plain - s * SEGMENT)
            last = (s + 1) * SEGMENT >= plain
            segments.append(key.decrypt(nonce(2, index, s, last), archive[at:at + n + 16], aad))
            at += n + 16
        data = b"".join(segments)
        plains.append((enciphered, attributes, unpacked, time, crc, data))
    trailer = keys[PASSWORD].decrypt(nonce(3, count), archive[at:at + 60], aad)
    names = keys[PASSWORD].decrypt(nonce(4, count), archive[at + 60:], aad)
    wanted = ENTRIES + [("$comments$", b"a comment", None)]
    assert count == len(wanted), count
    for (name, content, own), (enciphered, attributes, unpacked, time, crc, data) in zip(wanted,
                                                                                     plains):
        assert enciphered == (2 if own else 1) and attributes == 0x20, (name, enciphered)
        assert unpacked == len(content) and crc == zlib.crc32(content), name
        assert time == (0 if name == "$comments$" else 0x01DB4383F6EC0000), name
        assert data == stored_blocks(content), name
    table = b"".join(name.encode() + b"\0" for name, _, _ in wanted)
    assert names == table and trailer[:2] == b"\0\1", names
    assert struct.unpack("<II", trailer[4:12]) == (zlib.crc32(table), len(table))
    assert trailer[12:44] == bytes(32)  # not in a self-extractor
    return at


def main():
    with tempfile.TemporaryDirectory() as folder:
        args = [sys.argv[1], os.path.join(folder, "sealed.vorn"), PASSWORD, "8192"]
        for name, content, own in ENTRIES:
            path = os.path.join(folder, name)
            with open(path, "wb") as f:
                f.write(content)
            args += [name, path, own or "-"]
        subprocess.run(args, check=True)
        with open(args[1], "rb") as f:
            archive = f.read()
    check(archive)
    # The control: one changed bit in the big entry's second segment fails its tag.
    changed = bytearray(archive)
    changed[64 + 56 + 4 + 16 + 56 + SEGMENT + 100] ^= 4
    try:
        check(bytes(changed))
        sys.exit("sealed crosscheck: a changed byte passed")
    except InvalidTag:
        pass
    print(f"sealed crosscheck: {len(archive)} bytes of {len(ENTRIES) + 1} entries open and agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
