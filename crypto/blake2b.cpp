// BLAKE2b as RFC 7693 section 3 describes it: 12 rounds of the G mixing function over a 16-word
// working vector, the last block flagged and zero-padded. Portable code; Argon2 spends its time in
// its own permutation, not here.
#include "crypto/blake2b.h"

#include <cstring>

#include "crypto/secure_memory.h"
#include "format/byte_order.h"

namespace {

constexpr uint64_t kIv[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                             0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                             0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};

constexpr uint8_t kSigma[12][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
    {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4},
    {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
    {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13},
    {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
    {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11},
    {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
    {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5},
    {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
};

inline uint64_t Rotr(uint64_t v, int n) {
    return v >> n | v << (64 - n);
}

inline void Mix(uint64_t v[16], int a, int b, int c, int d, uint64_t x, uint64_t y) {
    v[a] = v[a] + v[b] + x;
    v[d] = Rotr(v[d] ^ v[a], 32);
    v[c] = v[c] + v[d];
    v[b] = Rotr(v[b] ^ v[c], 24);
    v[a] = v[a] + v[b] + y;
    v[d] = Rotr(v[d] ^ v[a], 16);
    v[c] = v[c] + v[d];
    v[b] = Rotr(v[b] ^ v[c], 63);
}

}  // namespace

bool Blake2b::Init(size_t digestLength, const uint8_t* key, size_t keyLength) {
    if (digestLength == 0 || digestLength > kBlake2bMaxDigestBytes) return false;
    if (keyLength > kBlake2bMaxKeyBytes || (keyLength && !key)) return false;
    std::memcpy(h_, kIv, sizeof h_);
    // Parameter block: digest length, key length, fanout 1, depth 1; the rest zero.
    h_[0] ^= 0x01010000u ^ (uint64_t(keyLength) << 8) ^ digestLength;
    bytesLow_ = bytesHigh_ = 0;
    buffered_ = 0;
    digestLength_ = digestLength;
    if (keyLength) {
        // The key, zero-padded to a full block, is the first block of the message.
        std::memset(buffer_, 0, sizeof buffer_);
        std::memcpy(buffer_, key, keyLength);
        buffered_ = kBlake2bBlockBytes;
    }
    return true;
}

void Blake2b::Compress(const uint8_t block[kBlake2bBlockBytes], bool last) {
    uint64_t m[16];
    uint64_t v[16];
    for (int i = 0; i < 16; ++i) m[i] = format::LoadLE64(block + 8 * i);
    for (int i = 0; i < 8; ++i) v[i] = h_[i], v[i + 8] = kIv[i];
    v[12] ^= bytesLow_;
    v[13] ^= bytesHigh_;
    if (last) v[14] = ~v[14];
    for (const auto& s : kSigma) {
        Mix(v, 0, 4, 8, 12, m[s[0]], m[s[1]]);
        Mix(v, 1, 5, 9, 13, m[s[2]], m[s[3]]);
        Mix(v, 2, 6, 10, 14, m[s[4]], m[s[5]]);
        Mix(v, 3, 7, 11, 15, m[s[6]], m[s[7]]);
        Mix(v, 0, 5, 10, 15, m[s[8]], m[s[9]]);
        Mix(v, 1, 6, 11, 12, m[s[10]], m[s[11]]);
        Mix(v, 2, 7, 8, 13, m[s[12]], m[s[13]]);
        Mix(v, 3, 4, 9, 14, m[s[14]], m[s[15]]);
    }
    for (int i = 0; i < 8; ++i) h_[i] ^= v[i] ^ v[i + 8];
    SecureWipe(m, sizeof m);
    SecureWipe(v, sizeof v);
}

void Blake2b::Update(const void* data, size_t length) {
    const uint8_t* in = static_cast<const uint8_t*>(data);
    while (length) {
        // A full buffer is compressed only once more bytes follow: the last block is flagged.
        if (buffered_ == kBlake2bBlockBytes) {
            bytesLow_ += kBlake2bBlockBytes;
            if (bytesLow_ < kBlake2bBlockBytes) ++bytesHigh_;
            Compress(buffer_, false);
            buffered_ = 0;
        }
        size_t take = kBlake2bBlockBytes - buffered_;
        if (take > length) take = length;
        std::memcpy(buffer_ + buffered_, in, take);
        buffered_ += take;
        in += take;
        length -= take;
    }
}

void Blake2b::Final(uint8_t* digest) {
    bytesLow_ += buffered_;
    if (bytesLow_ < buffered_) ++bytesHigh_;
    std::memset(buffer_ + buffered_, 0, kBlake2bBlockBytes - buffered_);
    Compress(buffer_, true);
    uint8_t full[kBlake2bMaxDigestBytes];
    for (int i = 0; i < 8; ++i) format::StoreLE64(full + 8 * i, h_[i]);
    std::memcpy(digest, full, digestLength_);
    SecureWipe(full, sizeof full);
    Wipe();
}

void Blake2b::Wipe() {
    SecureWipe(this, sizeof *this);
}

bool Blake2bHash(uint8_t* digest, size_t digestLength, const void* data, size_t length,
                 const uint8_t* key, size_t keyLength) {
    Blake2b hash;
    if (!hash.Init(digestLength, key, keyLength)) return false;
    hash.Update(data, length);
    hash.Final(digest);
    return true;
}

bool Blake2bLong(uint8_t* digest, uint32_t digestLength, const void* head, size_t headLength,
                 const void* tail, size_t tailLength) {
    if (digestLength == 0) return false;
    uint8_t lengthPrefix[4];
    format::StoreLE32(lengthPrefix, digestLength);
    Blake2b hash;
    hash.Init(digestLength < kBlake2bMaxDigestBytes ? digestLength : kBlake2bMaxDigestBytes);
    hash.Update(lengthPrefix, sizeof lengthPrefix);
    hash.Update(head, headLength);
    if (tailLength) hash.Update(tail, tailLength);
    if (digestLength <= kBlake2bMaxDigestBytes) {
        hash.Final(digest);
        return true;
    }
    // Longer digests chain 64-byte hashes and keep the first half of each, then the last one whole.
    uint8_t v[kBlake2bMaxDigestBytes];
    hash.Final(v);
    uint32_t remaining = digestLength;
    for (;;) {
        std::memcpy(digest, v, 32);
        digest += 32;
        remaining -= 32;
        if (remaining <= kBlake2bMaxDigestBytes) break;
        Blake2bHash(v, kBlake2bMaxDigestBytes, v, sizeof v);
    }
    Blake2bHash(digest, remaining, v, sizeof v);
    SecureWipe(v, sizeof v);
    return true;
}
