#!/usr/bin/env python3
"""Compares our BLAKE2b, SHA-256, ChaCha20-Poly1305 and Argon2id with independent implementations: Python's
hashlib, python3-cryptography and argon2-cffi (python3-argon2). Inputs are pseudo-random from a
fixed seed, of sizes around the block edges, including empty ones.
Usage: crosscheck.py <crosscheck_helper>. A missing module is a failure, never a skip."""
import hashlib
import random
import subprocess
import sys

try:
    from argon2 import low_level
    from cryptography.exceptions import InvalidTag
    from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305
except ImportError as error:
    sys.exit(f"crosscheck: {error}; install python3-cryptography and python3-argon2")

rng = random.Random(20261209)


def data(n):
    return bytes(rng.getrandbits(8) for _ in range(n))


def field(b):
    return b.hex() if b else "-"


def argon2id(m, t, p, tag_length, password, salt, secret, ad):
    ffi = low_level.ffi
    out = ffi.new("uint8_t[]", tag_length)
    keep = [ffi.new("uint8_t[]", s) if s else ffi.NULL for s in (password, salt, secret, ad)]
    context = ffi.new("argon2_context *", dict(
        out=out, outlen=tag_length, pwd=keep[0], pwdlen=len(password), salt=keep[1],
        saltlen=len(salt), secret=keep[2], secretlen=len(secret), ad=keep[3], adlen=len(ad),
        t_cost=t, m_cost=m, lanes=p, threads=p, version=low_level.ARGON2_VERSION,
        allocate_cbk=ffi.NULL, free_cbk=ffi.NULL, flags=low_level.lib.ARGON2_DEFAULT_FLAGS))
    low_level.core(context, low_level.Type.ID.value)
    return bytes(ffi.buffer(out, tag_length))


def cases():
    """(command line, expected answer) pairs."""
    for n in (0, 1, 63, 64, 65, 127, 128, 129, 1000):
        for key_length, digest_length in ((0, 64), (1, 1), (32, 20), (64, 64)):
            key, message = data(key_length), data(n)
            expected = hashlib.blake2b(message, key=key, digest_size=digest_length).hexdigest()
            yield f"blake2b {digest_length} {field(key)} {field(message)}", expected
    for n in (0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 1000, 4097):
        message = data(n)
        yield f"sha256 {field(message)}", hashlib.sha256(message).hexdigest()
    for n in (0, 1, 15, 16, 17, 63, 64, 65, 255, 1000, 4097):
        key, nonce, aad = data(32), data(12), data(rng.choice((0, 1, 16, 33)))
        plain = data(n)
        sealed = ChaCha20Poly1305(key).encrypt(nonce, plain, aad)
        line = f"{field(key)} {field(nonce)} {field(aad)}"
        yield f"aead-seal {line} {field(plain)}", sealed.hex()
        yield f"aead-open {line} {field(sealed)}", plain.hex() if plain else ""
        forged = bytearray(sealed)
        forged[rng.randrange(len(forged))] ^= 1 << rng.randrange(8)
        try:
            ChaCha20Poly1305(key).decrypt(nonce, bytes(forged), aad)
            yield "python accepted a forged message", "refused"
        except InvalidTag:
            yield f"aead-open {line} {field(bytes(forged))}", "refused"
    for m, t, p, tag_length, password, salt, extra in (
            (8, 1, 1, 32, 0, 8, False), (16, 2, 1, 4, 1, 16, False), (37, 3, 1, 64, 32, 16, True),
            (64, 1, 2, 65, 128, 33, False), (100, 2, 3, 96, 5, 16, True),
            (256, 3, 4, 97, 16, 16, True), (1024, 1, 1, 200, 64, 16, False),
            (4096, 2, 1, 1024, 20, 16, True)):
        args = (m, t, p, tag_length, data(password), data(salt),
                data(8) if extra else b"", data(12) if extra else b"")
        yield (f"argon2id {m} {t} {p} {tag_length} " + " ".join(field(a) for a in args[4:]),
               argon2id(*args).hex())
    # The low-level call used above agrees with argon2-cffi's documented one.
    plain_case = low_level.hash_secret_raw(b"pw", b"saltsalt", 2, 16, 1, 32, low_level.Type.ID)
    yield "argon2id 16 2 1 32 7077 73616c7473616c74 - -", plain_case.hex()


def main():
    pairs = list(cases())
    run = subprocess.run([sys.argv[1]], input="\n".join(c for c, _ in pairs) + "\n",
                         capture_output=True, text=True, check=True)
    answers = run.stdout.split("\n")
    failures = 0
    for (command, expected), answer in zip(pairs, answers):
        if answer != expected:
            failures += 1
            print(f"MISMATCH {command[:80]}...\n  ours   {answer[:80]}\n  python {expected[:80]}")
    if len(answers) < len(pairs):
        failures += 1
        print(f"the helper answered {len(answers)} of {len(pairs)} lines")
    print(f"crosscheck: {len(pairs) - failures} of {len(pairs)} cases agree")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
