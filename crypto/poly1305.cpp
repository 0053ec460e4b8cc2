// Poly1305 evaluated modulo 2^130 - 5 in five 26-bit limbs, so that every product fits in 64 bits
// on 32-bit hosts as well (the i686 build ships). The final reduction selects h or h - p with a
// mask, not a branch.
#include "crypto/poly1305.h"

#include <cstring>

#include "crypto/secure_memory.h"
#include "format/byte_order.h"

namespace {
constexpr uint32_t kLimb = 0x3ffffff;
}

Poly1305::Poly1305(const uint8_t key[kPoly1305KeyBytes]) {
    // r with the bits RFC 8439 clamps cleared, split into limbs.
    r_[0] = format::LoadLE32(key + 0) & 0x3ffffff;
    r_[1] = (format::LoadLE32(key + 3) >> 2) & 0x3ffff03;
    r_[2] = (format::LoadLE32(key + 6) >> 4) & 0x3ffc0ff;
    r_[3] = (format::LoadLE32(key + 9) >> 6) & 0x3f03fff;
    r_[4] = (format::LoadLE32(key + 12) >> 8) & 0x00fffff;
    for (int i = 0; i < 5; ++i) h_[i] = 0;
    for (int i = 0; i < 4; ++i) pad_[i] = format::LoadLE32(key + 16 + 4 * i);
    buffered_ = 0;
}

Poly1305::~Poly1305() {
    SecureWipe(this, sizeof *this);
}

// h = (h + block + highBit * 2^128) * r mod 2^130 - 5, for each 16-byte block.
void Poly1305::Blocks(const uint8_t* m, size_t length, uint32_t highBit) {
    const uint32_t r0 = r_[0], r1 = r_[1], r2 = r_[2], r3 = r_[3], r4 = r_[4];
    const uint32_t s1 = r1 * 5, s2 = r2 * 5, s3 = r3 * 5, s4 = r4 * 5;
    uint32_t h0 = h_[0], h1 = h_[1], h2 = h_[2], h3 = h_[3], h4 = h_[4];
    for (; length >= 16; m += 16, length -= 16) {
        h0 += format::LoadLE32(m + 0) & kLimb;
        h1 += (format::LoadLE32(m + 3) >> 2) & kLimb;
        h2 += (format::LoadLE32(m + 6) >> 4) & kLimb;
        h3 += (format::LoadLE32(m + 9) >> 6) & kLimb;
        h4 += (format::LoadLE32(m + 12) >> 8) | highBit;
        using U = uint64_t;
        U d0 = U(h0) * r0 + U(h1) * s4 + U(h2) * s3 + U(h3) * s2 + U(h4) * s1;
        U d1 = U(h0) * r1 + U(h1) * r0 + U(h2) * s4 + U(h3) * s3 + U(h4) * s2;
        U d2 = U(h0) * r2 + U(h1) * r1 + U(h2) * r0 + U(h3) * s4 + U(h4) * s3;
        U d3 = U(h0) * r3 + U(h1) * r2 + U(h2) * r1 + U(h3) * r0 + U(h4) * s4;
        U d4 = U(h0) * r4 + U(h1) * r3 + U(h2) * r2 + U(h3) * r1 + U(h4) * r0;
        d1 += d0 >> 26, h0 = uint32_t(d0) & kLimb;
        d2 += d1 >> 26, h1 = uint32_t(d1) & kLimb;
        d3 += d2 >> 26, h2 = uint32_t(d2) & kLimb;
        d4 += d3 >> 26, h3 = uint32_t(d3) & kLimb;
        h4 = uint32_t(d4) & kLimb;
        h0 += uint32_t(d4 >> 26) * 5;
        h1 += h0 >> 26, h0 &= kLimb;
    }
    h_[0] = h0, h_[1] = h1, h_[2] = h2, h_[3] = h3, h_[4] = h4;
}

void Poly1305::Update(const void* data, size_t length) {
    const uint8_t* in = static_cast<const uint8_t*>(data);
    if (buffered_) {
        size_t take = 16 - buffered_;
        if (take > length) take = length;
        std::memcpy(buffer_ + buffered_, in, take);
        buffered_ += take, in += take, length -= take;
        if (buffered_ < 16) return;
        Blocks(buffer_, 16, 1u << 24);
        buffered_ = 0;
    }
    const size_t whole = length & ~size_t(15);
    Blocks(in, whole, 1u << 24);
    std::memcpy(buffer_, in + whole, length - whole);
    buffered_ = length - whole;
}

void Poly1305::Final(uint8_t tag[kPoly1305TagBytes]) {
    if (buffered_) {
        // A short last block gets its 1 byte appended here instead of the bit above 2^128.
        buffer_[buffered_] = 1;
        std::memset(buffer_ + buffered_ + 1, 0, 16 - buffered_ - 1);
        Blocks(buffer_, 16, 0);
    }
    uint32_t h0 = h_[0], h1 = h_[1], h2 = h_[2], h3 = h_[3], h4 = h_[4];
    h2 += h1 >> 26, h1 &= kLimb;
    h3 += h2 >> 26, h2 &= kLimb;
    h4 += h3 >> 26, h3 &= kLimb;
    h0 += (h4 >> 26) * 5, h4 &= kLimb;
    h1 += h0 >> 26, h0 &= kLimb;
    // g = h + 5 - 2^130; when it does not go negative, h >= p and g is the reduced value.
    uint32_t g0 = h0 + 5, g1 = h1 + (g0 >> 26), g2, g3, g4;
    g0 &= kLimb;
    g2 = h2 + (g1 >> 26), g1 &= kLimb;
    g3 = h3 + (g2 >> 26), g2 &= kLimb;
    g4 = h4 + (g3 >> 26) - (1u << 26), g3 &= kLimb;
    const uint32_t useG = (g4 >> 31) - 1;  // all ones when g4 did not borrow
    h0 = (h0 & ~useG) | (g0 & useG);
    h1 = (h1 & ~useG) | (g1 & useG);
    h2 = (h2 & ~useG) | (g2 & useG);
    h3 = (h3 & ~useG) | (g3 & useG);
    h4 = (h4 & ~useG) | (g4 & useG);
    // Back to four 32-bit words, plus s, modulo 2^128.
    const uint32_t w[4] = {h0 | h1 << 26, h1 >> 6 | h2 << 20, h2 >> 12 | h3 << 14,
                           h3 >> 18 | h4 << 8};
    uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
        carry += uint64_t(w[i]) + pad_[i];
        format::StoreLE32(tag + 4 * i, uint32_t(carry));
        carry >>= 32;
    }
    SecureWipe(this, sizeof *this);
}
