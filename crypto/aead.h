// The AEAD constructions: ChaCha20-Poly1305 (RFC 8439 section 2.8) with a 96-bit nonce, and
// XChaCha20-Poly1305 (draft-irtf-cfrg-xchacha) with a 192-bit nonce, through HChaCha20. Open
// checks the tag before it deciphers anything: on a wrong tag no plaintext byte is written.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kAeadKeyBytes = 32;
constexpr size_t kAeadTagBytes = 16;
constexpr size_t kAeadNonceBytes = 12;
constexpr size_t kXAeadNonceBytes = 24;
// The counter starts at 1 and has 32 bits: 2^32 - 1 blocks of 64 bytes per nonce.
constexpr uint64_t kAeadMaxMessageBytes = 0x3FFFFFFFC0;

// The bytes of one call. in and out may be the same buffer; aad may be null when aadLength is 0.
struct AeadMessage {
    const uint8_t* aad;
    size_t aadLength;
    const uint8_t* in;
    uint8_t* out;
    size_t length;
};

// Enciphers m.in into m.out and writes the tag; false (nothing written) when m.length is too long.
bool ChaCha20Poly1305Seal(const uint8_t key[kAeadKeyBytes], const uint8_t nonce[kAeadNonceBytes],
                          const AeadMessage& m, uint8_t tag[kAeadTagBytes]);
// Checks the tag of m.in and only then deciphers it into m.out; false when the tag is wrong.
bool ChaCha20Poly1305Open(const uint8_t key[kAeadKeyBytes], const uint8_t nonce[kAeadNonceBytes],
                          const AeadMessage& m, const uint8_t tag[kAeadTagBytes]);

bool XChaCha20Poly1305Seal(const uint8_t key[kAeadKeyBytes], const uint8_t nonce[kXAeadNonceBytes],
                           const AeadMessage& m, uint8_t tag[kAeadTagBytes]);
bool XChaCha20Poly1305Open(const uint8_t key[kAeadKeyBytes], const uint8_t nonce[kXAeadNonceBytes],
                           const AeadMessage& m, const uint8_t tag[kAeadTagBytes]);
