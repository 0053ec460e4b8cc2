// ChaCha20's 20 rounds over the 4x4 state of constants, key, counter and nonce. HChaCha20 runs the
// same rounds over key and 16 nonce bytes and keeps rows 0 and 3 without the final addition.
#include "crypto/chacha20.h"

#include "crypto/secure_memory.h"
#include "format/byte_order.h"

namespace {

inline uint32_t Rotl(uint32_t v, int n) {
    return v << n | v >> (32 - n);
}

inline void QuarterRound(uint32_t* x, int a, int b, int c, int d) {
    x[a] += x[b], x[d] = Rotl(x[d] ^ x[a], 16);
    x[c] += x[d], x[b] = Rotl(x[b] ^ x[c], 12);
    x[a] += x[b], x[d] = Rotl(x[d] ^ x[a], 8);
    x[c] += x[d], x[b] = Rotl(x[b] ^ x[c], 7);
}

void DoubleRounds(uint32_t x[16]) {
    for (int i = 0; i < 10; ++i) {
        QuarterRound(x, 0, 4, 8, 12);
        QuarterRound(x, 1, 5, 9, 13);
        QuarterRound(x, 2, 6, 10, 14);
        QuarterRound(x, 3, 7, 11, 15);
        QuarterRound(x, 0, 5, 10, 15);
        QuarterRound(x, 1, 6, 11, 12);
        QuarterRound(x, 2, 7, 8, 13);
        QuarterRound(x, 3, 4, 9, 14);
    }
}

// "expand 32-byte k", then the key; the last four words are the caller's.
void InitState(uint32_t state[16], const uint8_t key[kChaCha20KeyBytes]) {
    state[0] = 0x61707865, state[1] = 0x3320646e, state[2] = 0x79622d32, state[3] = 0x6b206574;
    for (int i = 0; i < 8; ++i) state[4 + i] = format::LoadLE32(key + 4 * i);
}

void KeystreamBlock(const uint32_t state[16], uint8_t out[kChaCha20BlockBytes]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = state[i];
    DoubleRounds(x);
    for (int i = 0; i < 16; ++i) format::StoreLE32(out + 4 * i, x[i] + state[i]);
    SecureWipe(x, sizeof x);
}

void NonceState(uint32_t state[16], const uint8_t key[kChaCha20KeyBytes], uint32_t counter,
                const uint8_t nonce[kChaCha20NonceBytes]) {
    InitState(state, key);
    state[12] = counter;
    for (int i = 0; i < 3; ++i) state[13 + i] = format::LoadLE32(nonce + 4 * i);
}

}  // namespace

void ChaCha20Block(const uint8_t key[kChaCha20KeyBytes], uint32_t counter,
                   const uint8_t nonce[kChaCha20NonceBytes], uint8_t out[kChaCha20BlockBytes]) {
    uint32_t state[16];
    NonceState(state, key, counter, nonce);
    KeystreamBlock(state, out);
    SecureWipe(state, sizeof state);
}

void ChaCha20Xor(const uint8_t key[kChaCha20KeyBytes], uint32_t counter,
                 const uint8_t nonce[kChaCha20NonceBytes], const uint8_t* in, uint8_t* out,
                 size_t length) {
    uint32_t state[16];
    uint8_t block[kChaCha20BlockBytes];
    NonceState(state, key, counter, nonce);
    while (length) {
        KeystreamBlock(state, block);
        ++state[12];
        const size_t n = length < sizeof block ? length : sizeof block;
        for (size_t i = 0; i < n; ++i) out[i] = in[i] ^ block[i];
        in += n, out += n, length -= n;
    }
    SecureWipe(state, sizeof state);
    SecureWipe(block, sizeof block);
}

void HChaCha20(const uint8_t key[kChaCha20KeyBytes], const uint8_t input[16],
               uint8_t subkey[kChaCha20KeyBytes]) {
    uint32_t x[16];
    InitState(x, key);
    for (int i = 0; i < 4; ++i) x[12 + i] = format::LoadLE32(input + 4 * i);
    DoubleRounds(x);
    for (int i = 0; i < 4; ++i) {
        format::StoreLE32(subkey + 4 * i, x[i]);
        format::StoreLE32(subkey + 16 + 4 * i, x[12 + i]);
    }
    SecureWipe(x, sizeof x);
}
