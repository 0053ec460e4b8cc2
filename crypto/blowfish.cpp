// Blowfish: 16 rounds over an 18-word P-array and four 256-word S-boxes, keyed by a password's
// bytes. Buffers hold each block as two little-endian halves. The bulk paths run several blocks
// side by side: one block's rounds are a chain of dependent table loads, so independent blocks
// interleaved in the same loop keep the CPU busy while each load is in flight.

#include "crypto/blowfish.h"

#include <cstring>

#include "crypto/blowfish_init.h"
#include "crypto/secure_memory.h"

static_assert(sizeof(BlowfishContext) == BLOWFISH_INITIAL_WORDS * sizeof(uint32_t),
              "the context is the initial table's image");

namespace {

// Bulk paths take this many blocks per step; the rest go one at a time. Eight keep a 64-bit CPU's
// load units busy; a 32-bit one has too few registers to gain from more than four.
#if defined(__x86_64__) || defined(__aarch64__)
constexpr int LANES = 8;
#else
constexpr int LANES = 4;
#endif

inline uint32_t LoadLe32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void StoreLe32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// The top byte of x indexes S0 and the low byte S3.
inline uint32_t F(const BlowfishContext* ctx, uint32_t x) {
    return ((ctx->S[0][x >> 24] + ctx->S[1][(x >> 16) & 0xFF]) ^ ctx->S[2][(x >> 8) & 0xFF]) +
           ctx->S[3][x & 0xFF];
}

// Runs N blocks through the 16 rounds together. Enciphering walks the P-array upwards, deciphering
// downwards; the swap of halves between rounds is folded into alternating which half is changed.
template <int N, bool DECIPHER>
inline void CipherLanes(const BlowfishContext* ctx, uint32_t* l, uint32_t* r) {
    const uint32_t* p = ctx->P;
#pragma GCC unroll 8
    for (int round = 0; round < 16; round += 2) {
        uint32_t k = DECIPHER ? p[17 - round] : p[round];
        for (int i = 0; i < N; ++i) l[i] ^= k;
        for (int i = 0; i < N; ++i) r[i] ^= F(ctx, l[i]);
        k = DECIPHER ? p[16 - round] : p[round + 1];
        for (int i = 0; i < N; ++i) r[i] ^= k;
        for (int i = 0; i < N; ++i) l[i] ^= F(ctx, r[i]);
    }
    const uint32_t lastL = DECIPHER ? p[0] : p[17];
    const uint32_t lastR = DECIPHER ? p[1] : p[16];
    for (int i = 0; i < N; ++i) {
        uint32_t outL = r[i] ^ lastL;
        r[i] = l[i] ^ lastR;
        l[i] = outL;
    }
}

template <int N, bool DECIPHER>
inline void CipherBytes(const BlowfishContext* ctx, unsigned char* data) {
    uint32_t l[N], r[N];
    for (int i = 0; i < N; ++i) {
        l[i] = LoadLe32(data + 8 * i);
        r[i] = LoadLe32(data + 8 * i + 4);
    }
    CipherLanes<N, DECIPHER>(ctx, l, r);
    for (int i = 0; i < N; ++i) {
        StoreLe32(data + 8 * i, l[i]);
        StoreLe32(data + 8 * i + 4, r[i]);
    }
}

// Whole blocks only: a count that is not a multiple of 8 leaves its last few bytes as they are
// rather than touching bytes past the end.
template <bool DECIPHER>
void CipherBuffer(const BlowfishContext* ctx, unsigned char* buffer, uint32_t count) {
    uint32_t blocks = count / 8;
    while (blocks >= LANES) {
        CipherBytes<LANES, DECIPHER>(ctx, buffer);
        buffer += 8 * LANES;
        blocks -= LANES;
    }
    while (blocks > 0) {
        CipherBytes<1, DECIPHER>(ctx, buffer);
        buffer += 8;
        --blocks;
    }
}

}  // namespace

void BlowfishSetKey(BlowfishContext* ctx, const unsigned char* key, int keyLength) {
    memcpy(ctx, kBlowfishInitialWords, sizeof *ctx);

    // Key bytes are taken cyclically across all 18 words, first byte most significant. An empty key
    // gives all-zero words: every byte it would use is the password's terminating NUL.
    int j = 0;
    for (int k = 0; k < 18; ++k) {
        uint32_t word = 0;
        for (int b = 0; b < 4; ++b) {
            word = (word << 8) | (keyLength > 0 ? key[j] : 0u);
            if (++j >= keyLength) j = 0;
        }
        ctx->P[k] ^= word;
    }

    uint32_t l = 0, r = 0;
    for (int k = 0; k < 18; k += 2) {
        BlowfishEncryptBlock(ctx, &l, &r);
        ctx->P[k] = l;
        ctx->P[k + 1] = r;
    }
    for (int box = 0; box < 4; ++box) {
        for (int k = 0; k < 256; k += 2) {
            BlowfishEncryptBlock(ctx, &l, &r);
            ctx->S[box][k] = l;
            ctx->S[box][k + 1] = r;
        }
    }
}

void BlowfishSetPassword(BlowfishContext* ctx, const char* password) {
    const char* text = password ? password : "";
    size_t length = strlen(text);
    // Only the first 72 key bytes reach the P-array; clamping also keeps the length an int.
    if (length > 72) length = 72;
    BlowfishSetKey(ctx, reinterpret_cast<const unsigned char*>(text), static_cast<int>(length));
}

void BlowfishEncryptBlock(const BlowfishContext* ctx, uint32_t* L, uint32_t* R) {
    CipherLanes<1, false>(ctx, L, R);
}

void DecryptBuffer(unsigned char* buffer, uint32_t count, const char* password) {
    BlowfishContext ctx;
    BlowfishSetPassword(&ctx, password);
    CipherBuffer<true>(&ctx, buffer, count);
    SecureWipe(&ctx, sizeof ctx);
}

void EncryptBuffer(unsigned char* buffer, uint32_t count, const char* password) {
    BlowfishContext ctx;
    BlowfishSetPassword(&ctx, password);
    CipherBuffer<false>(&ctx, buffer, count);
    SecureWipe(&ctx, sizeof ctx);
}

void DecryptNameUnit(const BlowfishContext* ctx, unsigned char unit[16]) {
    CipherBytes<2, true>(ctx, unit);
}

void EncryptNameUnit(const BlowfishContext* ctx, unsigned char unit[16]) {
    CipherBytes<2, false>(ctx, unit);
}
