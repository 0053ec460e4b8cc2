// ChaCha20 (RFC 8439 section 2.4) with a 96-bit nonce and 32-bit block counter, and HChaCha20
// (draft-irtf-cfrg-xchacha section 2.2), which turns a key and 128 bits of an extended nonce into
// a subkey.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kChaCha20KeyBytes = 32;
constexpr size_t kChaCha20NonceBytes = 12;
constexpr size_t kChaCha20BlockBytes = 64;

// The keystream block with the given counter.
void ChaCha20Block(const uint8_t key[kChaCha20KeyBytes], uint32_t counter,
                   const uint8_t nonce[kChaCha20NonceBytes], uint8_t out[kChaCha20BlockBytes]);

// out = in XOR the keystream from block `counter` on; in and out may be the same buffer. The
// caller keeps length within the 2^32 - counter blocks that the counter reaches.
void ChaCha20Xor(const uint8_t key[kChaCha20KeyBytes], uint32_t counter,
                 const uint8_t nonce[kChaCha20NonceBytes], const uint8_t* in, uint8_t* out,
                 size_t length);

void HChaCha20(const uint8_t key[kChaCha20KeyBytes], const uint8_t input[16],
               uint8_t subkey[kChaCha20KeyBytes]);
