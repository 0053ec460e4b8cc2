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

// Four consecutive blocks at once, word i of block l in lane l of x[i]. GCC's and Clang's vector
// types make each step of the rounds one instruction per four words where the target has vectors
// (SSE2 on x86-64) and plain code where it has none.
constexpr int kWide = 4;
#if defined(__GNUC__) || defined(__clang__)
typedef uint32_t Lanes __attribute__((vector_size(16)));
#else
struct Lanes {  // the same arithmetic, lane by lane
    uint32_t v[kWide];
    uint32_t& operator[](int l) { return v[l]; }
    uint32_t operator[](int l) const { return v[l]; }
};
#endif

template <int kBits>
inline void XorRotate(Lanes& target, const Lanes& source) {
#if defined(__GNUC__) || defined(__clang__)
    target ^= source;
    target = target << kBits | target >> (32 - kBits);
#else
    for (int l = 0; l < kWide; ++l) target[l] = Rotl(target[l] ^ source[l], kBits);
#endif
}

inline void AddTo(Lanes& target, const Lanes& source) {
#if defined(__GNUC__) || defined(__clang__)
    target += source;
#else
    for (int l = 0; l < kWide; ++l) target[l] += source[l];
#endif
}

inline void QuarterRoundWide(Lanes* x, int a, int b, int c, int d) {
    AddTo(x[a], x[b]), XorRotate<16>(x[d], x[a]);
    AddTo(x[c], x[d]), XorRotate<12>(x[b], x[c]);
    AddTo(x[a], x[b]), XorRotate<8>(x[d], x[a]);
    AddTo(x[c], x[d]), XorRotate<7>(x[b], x[c]);
}

void XorFourBlocks(const uint32_t state[16], const uint8_t* in, uint8_t* out) {
    Lanes start[16], x[16];
    for (int i = 0; i < 16; ++i) {
        for (int l = 0; l < kWide; ++l) start[i][l] = state[i] + (i == 12 ? l : 0);
        x[i] = start[i];
    }
    for (int round = 0; round < 10; ++round) {
        QuarterRoundWide(x, 0, 4, 8, 12);
        QuarterRoundWide(x, 1, 5, 9, 13);
        QuarterRoundWide(x, 2, 6, 10, 14);
        QuarterRoundWide(x, 3, 7, 11, 15);
        QuarterRoundWide(x, 0, 5, 10, 15);
        QuarterRoundWide(x, 1, 6, 11, 12);
        QuarterRoundWide(x, 2, 7, 8, 13);
        QuarterRoundWide(x, 3, 4, 9, 14);
    }
    for (int i = 0; i < 16; ++i) AddTo(x[i], start[i]);
    for (int l = 0; l < kWide; ++l) {
        for (int i = 0; i < 16; ++i) {
            const size_t at = size_t(kChaCha20BlockBytes) * l + 4 * i;
            format::StoreLE32(out + at, format::LoadLE32(in + at) ^ x[i][l]);
        }
    }
    SecureWipe(x, sizeof x);
    SecureWipe(start, sizeof start);
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
    for (; length >= kWide * kChaCha20BlockBytes; length -= kWide * kChaCha20BlockBytes) {
        XorFourBlocks(state, in, out);
        state[12] += kWide;
        in += kWide * kChaCha20BlockBytes, out += kWide * kChaCha20BlockBytes;
    }
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
