// AEAD_CHACHA20_POLY1305: the Poly1305 key is the first half of keystream block 0, the message is
// enciphered from block 1, and the tag covers aad, ciphertext (each zero-padded to 16 bytes) and
// both lengths. The X variant derives a subkey from the key and the first 16 nonce bytes and uses
// the last 8 behind four zero bytes as the 96-bit nonce.
#include "crypto/aead.h"

#include "crypto/chacha20.h"
#include "crypto/poly1305.h"
#include "crypto/secure_memory.h"
#include "format/byte_order.h"

namespace {

void PadTo16(Poly1305& mac, size_t length) {
    static const uint8_t zeros[16] = {};
    if (length % 16) mac.Update(zeros, 16 - length % 16);
}

void ComputeTag(const uint8_t key[kAeadKeyBytes], const uint8_t nonce[kAeadNonceBytes],
                const uint8_t* aad, size_t aadLength, const uint8_t* cipher, size_t length,
                uint8_t tag[kAeadTagBytes]) {
    uint8_t block0[kChaCha20BlockBytes];
    ChaCha20Block(key, 0, nonce, block0);
    Poly1305 mac(block0);
    SecureWipe(block0, sizeof block0);
    if (aadLength) mac.Update(aad, aadLength);
    PadTo16(mac, aadLength);
    if (length) mac.Update(cipher, length);
    PadTo16(mac, length);
    uint8_t lengths[16];
    format::StoreLE64(lengths, aadLength);
    format::StoreLE64(lengths + 8, length);
    mac.Update(lengths, sizeof lengths);
    mac.Final(tag);
}

// The subkey and 96-bit nonce that XChaCha20 hands to the 96-bit construction. Wipes the subkey.
struct XKey {
    uint8_t key[kAeadKeyBytes];
    uint8_t nonce[kAeadNonceBytes];

    XKey(const uint8_t k[kAeadKeyBytes], const uint8_t n[kXAeadNonceBytes]) {
        HChaCha20(k, n, key);
        for (int i = 0; i < 4; ++i) nonce[i] = 0;
        for (int i = 0; i < 8; ++i) nonce[4 + i] = n[16 + i];
    }
    ~XKey() { SecureWipe(key, sizeof key); }
};

}  // namespace

bool ChaCha20Poly1305Seal(const uint8_t key[kAeadKeyBytes], const uint8_t nonce[kAeadNonceBytes],
                          const AeadMessage& m, uint8_t tag[kAeadTagBytes]) {
    if (uint64_t(m.length) > kAeadMaxMessageBytes) return false;
    ChaCha20Xor(key, 1, nonce, m.in, m.out, m.length);
    ComputeTag(key, nonce, m.aad, m.aadLength, m.out, m.length, tag);
    return true;
}

bool ChaCha20Poly1305Open(const uint8_t key[kAeadKeyBytes], const uint8_t nonce[kAeadNonceBytes],
                          const AeadMessage& m, const uint8_t tag[kAeadTagBytes]) {
    if (uint64_t(m.length) > kAeadMaxMessageBytes) return false;
    uint8_t expected[kAeadTagBytes];
    ComputeTag(key, nonce, m.aad, m.aadLength, m.in, m.length, expected);
    const bool authentic = ConstantTimeEqual(expected, tag, kAeadTagBytes);
    if (authentic) ChaCha20Xor(key, 1, nonce, m.in, m.out, m.length);
    return authentic;
}

bool XChaCha20Poly1305Seal(const uint8_t key[kAeadKeyBytes], const uint8_t nonce[kXAeadNonceBytes],
                           const AeadMessage& m, uint8_t tag[kAeadTagBytes]) {
    XKey sub(key, nonce);
    return ChaCha20Poly1305Seal(sub.key, sub.nonce, m, tag);
}

bool XChaCha20Poly1305Open(const uint8_t key[kAeadKeyBytes], const uint8_t nonce[kXAeadNonceBytes],
                           const AeadMessage& m, const uint8_t tag[kAeadTagBytes]) {
    XKey sub(key, nonce);
    return ChaCha20Poly1305Open(sub.key, sub.nonce, m, tag);
}
