// Blowfish: the generated initial table, published test vectors (big-endian as printed, and through
// the little-endian buffer layout), password keying rules, the interleaved buffer paths against a
// one-block-at-a-time reference, and name units.
#include "crypto/blowfish.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/blowfish_init.h"

namespace {

// One block deciphered with a keyed context, through the first half of a name unit: the library
// deciphers blocks only in units and buffers. The halves lie little-endian in the unit, as on the
// hosts the tests run on.
void DecryptBlock(const BlowfishContext* ctx, uint32_t* l, uint32_t* r) {
    unsigned char unit[16] = {};
    std::memcpy(unit, l, 4);
    std::memcpy(unit + 4, r, 4);
    DecryptNameUnit(ctx, unit);
    std::memcpy(l, unit, 4);
    std::memcpy(r, unit + 4, 4);
}

std::vector<unsigned char> Hex(const char* text) {
    std::vector<unsigned char> out;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2) {
        out.push_back(
            static_cast<unsigned char>(std::stoul(std::string(text + i, 2), nullptr, 16)));
    }
    return out;
}

uint32_t Be32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The printed vectors are big-endian halves; a buffer holds little-endian ones.
std::vector<unsigned char> ReverseHalves(std::vector<unsigned char> block) {
    for (size_t i = 0; i < block.size(); i += 4)
        std::swap(block[i], block[i + 3]), std::swap(block[i + 1], block[i + 2]);
    return block;
}

std::vector<unsigned char> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> v(n);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
}

bool SameContext(const BlowfishContext& a, const BlowfishContext& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Classic variable-key ECB vectors.
const Vector kVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
};

BlowfishContext Keyed(const std::vector<unsigned char>& key) {
    BlowfishContext ctx;
    BlowfishSetKey(&ctx, key.data(), int(key.size()));
    return ctx;
}

TEST(BlowfishInitialTable, AnchorWords) {
    EXPECT_EQ(BLOWFISH_INITIAL_WORDS, 1042);
    EXPECT_EQ(kBlowfishInitialWords[0], 0x243F6A88u);
    EXPECT_EQ(kBlowfishInitialWords[17], 0x8979FB1Bu);
    EXPECT_EQ(kBlowfishInitialWords[18], 0xD1310BA6u);
    EXPECT_EQ(kBlowfishInitialWords[1041], 0x3AC372E6u);
}

TEST(BlowfishVectors, EncipherAndDecipherBigEndianHalves) {
    for (const Vector& v : kVectors) {
        BlowfishContext ctx = Keyed(Hex(v.key));
        auto plain = Hex(v.plain);
        auto cipher = Hex(v.cipher);
        uint32_t l = Be32(plain.data()), r = Be32(plain.data() + 4);
        BlowfishEncryptBlock(&ctx, &l, &r);
        EXPECT_EQ(l, Be32(cipher.data())) << v.key;
        EXPECT_EQ(r, Be32(cipher.data() + 4)) << v.key;
        DecryptBlock(&ctx, &l, &r);
        EXPECT_EQ(l, Be32(plain.data())) << v.key;
        EXPECT_EQ(r, Be32(plain.data() + 4)) << v.key;
    }
}

TEST(BlowfishVectors, KeyLengthsOneToTwentyFour) {
    // One plaintext under growing prefixes of one 24-byte key: every prefix keys differently.
    const auto key = Hex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
    const auto plain = Hex("FEDCBA9876543210");
    const char* expected[] = {
        "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
        "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
        "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
        "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
        "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
        "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080"};
    for (int n = 1; n <= 24; ++n) {
        BlowfishContext ctx;
        BlowfishSetKey(&ctx, key.data(), n);
        uint32_t l = Be32(plain.data()), r = Be32(plain.data() + 4);
        BlowfishEncryptBlock(&ctx, &l, &r);
        auto cipher = Hex(expected[n - 1]);
        EXPECT_EQ(l, Be32(cipher.data())) << "key length " << n;
        EXPECT_EQ(r, Be32(cipher.data() + 4)) << "key length " << n;
    }
}

TEST(BlowfishVectors, BufferLayoutNeedsHalvesByteReversed) {
    for (const Vector& v : kVectors) {
        BlowfishContext ctx = Keyed(Hex(v.key));
        const auto plain = Hex(v.plain);
        const auto cipher = Hex(v.cipher);
        // A name unit is two blocks: one as printed, one with its halves reversed.
        unsigned char unit[16];
        std::memcpy(unit, cipher.data(), 8);
        auto reversed = ReverseHalves(cipher);
        std::memcpy(unit + 8, reversed.data(), 8);
        DecryptNameUnit(&ctx, unit);
        EXPECT_EQ(std::vector<unsigned char>(unit + 8, unit + 16), ReverseHalves(plain)) << v.key;
        if (plain != ReverseHalves(plain) || cipher != reversed) {
            // Read as printed, the same bytes do not decipher to the vector's plaintext.
            EXPECT_NE(std::vector<unsigned char>(unit, unit + 8), ReverseHalves(plain)) << v.key;
        }
    }
}

TEST(BlowfishVectors, DecryptBufferWithPasswords) {
    // Keys without zero bytes can be passwords; the all-zero key is the empty password.
    struct {
        const char* password;
        const char* plain;
        const char* cipher;
    } cases[] = {
        {"", "0000000000000000", "4EF997456198DD78"},
        {"\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"\x01\x23\x45\x67\x89\xAB\xCD\xEF", "1111111111111111", "61F9C3802281B096"},
        {"\x7C\xA1\x10\x45\x4A\x1A\x6E\x57", "01A1D6D039776742", "59C68245EB05282B"},
    };
    for (const auto& c : cases) {
        auto buffer = ReverseHalves(Hex(c.cipher));
        DecryptBuffer(buffer.data(), 8, c.password);
        EXPECT_EQ(buffer, ReverseHalves(Hex(c.plain))) << c.cipher;
        EncryptBuffer(buffer.data(), 8, c.password);
        EXPECT_EQ(buffer, ReverseHalves(Hex(c.cipher))) << c.cipher;
    }
}

// The key schedule as plainly as it can be written, swaps and all: a second opinion on the context
// that BlowfishSetKey builds.
void ReferenceEncipher(const BlowfishContext& c, uint32_t& L, uint32_t& R) {
    auto f = [&c](uint32_t x) {
        return ((c.S[0][x >> 24] + c.S[1][(x >> 16) & 0xFF]) ^ c.S[2][(x >> 8) & 0xFF]) +
               c.S[3][x & 0xFF];
    };
    for (int i = 0; i < 16; ++i) {
        L ^= c.P[i];
        R ^= f(L);
        std::swap(L, R);
    }
    std::swap(L, R);
    R ^= c.P[16];
    L ^= c.P[17];
}

BlowfishContext ReferenceKey(const std::vector<unsigned char>& key) {
    BlowfishContext c;
    std::memcpy(&c, kBlowfishInitialWords, sizeof c);
    size_t j = 0;
    for (int k = 0; k < 18; ++k) {
        uint32_t word = 0;
        for (int b = 0; b < 4; ++b) {
            word = word << 8 | (key.empty() ? 0 : key[j]);
            if (++j >= key.size()) j = 0;
        }
        c.P[k] ^= word;
    }
    uint32_t L = 0, R = 0;
    uint32_t* out = c.P;
    for (int n = 0; n < 521; ++n) {
        ReferenceEncipher(c, L, R);
        // P and S are laid out back to back, 1042 words in all.
        out[2 * n] = L;
        out[2 * n + 1] = R;
    }
    return c;
}

TEST(BlowfishKeying, MatchesPlainKeySchedule) {
    for (size_t length : {0, 1, 5, 8, 56, 72, 73, 100}) {
        auto key = RandomBytes(length, uint32_t(length) + 10);
        EXPECT_TRUE(SameContext(Keyed(key), ReferenceKey(key))) << "key length " << length;
    }
}

TEST(BlowfishKeying, OnlyFirst72PasswordBytesMatter) {
    std::string longPassword;
    for (int i = 0; i < 100; ++i) longPassword += char('a' + i % 26);
    BlowfishContext full, first72, first71;
    BlowfishSetPassword(&full, longPassword.c_str());
    BlowfishSetPassword(&first72, longPassword.substr(0, 72).c_str());
    BlowfishSetPassword(&first71, longPassword.substr(0, 71).c_str());
    EXPECT_TRUE(SameContext(full, first72));
    EXPECT_FALSE(SameContext(full, first71));

    auto data = RandomBytes(64, 11);
    auto a = data, b = data;
    DecryptBuffer(a.data(), 64, longPassword.c_str());
    DecryptBuffer(b.data(), 64, longPassword.substr(0, 72).c_str());
    EXPECT_EQ(a, b);
}

TEST(BlowfishKeying, HighBytesAreUnsigned) {
    const char password[] = "\xE9t\xE9\xFF\x80";
    const std::vector<unsigned char> bytes = {0xE9, 't', 0xE9, 0xFF, 0x80};
    BlowfishContext fromPassword;
    BlowfishSetPassword(&fromPassword, password);
    EXPECT_TRUE(SameContext(fromPassword, ReferenceKey(bytes)));
}

TEST(BlowfishKeying, EmptyPasswordEqualsOneZeroByte) {
    BlowfishContext empty, zeroByte, fromEmptyKey;
    BlowfishSetPassword(&empty, "");
    const unsigned char zero = 0;
    BlowfishSetKey(&zeroByte, &zero, 1);
    BlowfishSetKey(&fromEmptyKey, nullptr, 0);
    EXPECT_TRUE(SameContext(empty, zeroByte));
    EXPECT_TRUE(SameContext(empty, fromEmptyKey));
    BlowfishContext other;
    BlowfishSetPassword(&other, "a");
    EXPECT_FALSE(SameContext(empty, other));
}

TEST(BlowfishKeying, NullPasswordKeysLikeEmpty) {
    BlowfishContext fromNull, empty;
    BlowfishSetPassword(&fromNull, nullptr);
    BlowfishSetPassword(&empty, "");
    EXPECT_TRUE(SameContext(fromNull, empty));
}

TEST(BlowfishRoundTrip, BlocksComeBack) {
    BlowfishContext ctx;
    BlowfishSetPassword(&ctx, "correct horse");
    std::mt19937 rng(12);
    for (int i = 0; i < 1000; ++i) {
        const uint32_t l0 = rng(), r0 = rng();
        uint32_t l = l0, r = r0;
        BlowfishEncryptBlock(&ctx, &l, &r);
        EXPECT_FALSE(l == l0 && r == r0);
        DecryptBlock(&ctx, &l, &r);
        ASSERT_EQ(l, l0);
        ASSERT_EQ(r, r0);
    }
}

TEST(BlowfishRoundTrip, BuffersComeBack) {
    for (const char* password : {"", "x", "secret", "\xC3\xA9l\xC3\xA8ve-2024-long-password"}) {
        const auto original = RandomBytes(4096 + 48, 13);
        auto data = original;
        EncryptBuffer(data.data(), uint32_t(data.size()), password);
        EXPECT_NE(data, original);
        DecryptBuffer(data.data(), uint32_t(data.size()), password);
        EXPECT_EQ(data, original) << password;
    }
}

TEST(BlowfishRoundTrip, WrongPasswordDoesNotDecipher) {
    const auto original = RandomBytes(256, 14);
    auto data = original;
    EncryptBuffer(data.data(), 256, "right");
    DecryptBuffer(data.data(), 256, "wrong");
    EXPECT_NE(data, original);
}

// The buffer paths step through several blocks at once; each block must still come out as if
// deciphered alone.
TEST(BlowfishBuffer, InterleavedPathEqualsBlockByBlock) {
    const char* password = "interleave";
    BlowfishContext ctx;
    BlowfishSetPassword(&ctx, password);
    for (uint32_t blocks : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 9u, 11u, 13u, 17u, 31u, 33u, 1001u}) {
        const auto original = RandomBytes(8 * blocks, 100 + blocks);
        auto fast = original;
        DecryptBuffer(fast.data(), 8 * blocks, password);
        auto reference = original;
        for (uint32_t b = 0; b < blocks; ++b) {
            unsigned char* p = reference.data() + 8 * b;
            uint32_t l, r;
            std::memcpy(&l, p, 4);  // the tests run on little-endian hosts
            std::memcpy(&r, p + 4, 4);
            DecryptBlock(&ctx, &l, &r);
            std::memcpy(p, &l, 4);
            std::memcpy(p + 4, &r, 4);
        }
        EXPECT_EQ(fast, reference) << blocks << " blocks";

        auto back = fast;
        EncryptBuffer(back.data(), 8 * blocks, password);
        EXPECT_EQ(back, original) << blocks << " blocks";
    }
}

TEST(BlowfishBuffer, PartialTrailingBlockIsLeftAlone) {
    const auto original = RandomBytes(8 * 5 + 3, 15);
    auto data = original;
    DecryptBuffer(data.data(), uint32_t(data.size()), "pw");
    auto whole = original;
    DecryptBuffer(whole.data(), 8 * 5, "pw");
    EXPECT_EQ(data, whole);
    EXPECT_TRUE(std::equal(data.end() - 3, data.end(), original.end() - 3));
}

TEST(BlowfishBuffer, ZeroCountTouchesNothing) {
    unsigned char byte = 0x5A;
    DecryptBuffer(&byte, 0, "pw");
    EXPECT_EQ(byte, 0x5A);
}

TEST(BlowfishNameUnit, TwoIndependentBlocks) {
    BlowfishContext ctx;
    BlowfishSetPassword(&ctx, "names");
    const auto original = RandomBytes(16, 16);
    unsigned char unit[16];
    std::memcpy(unit, original.data(), 16);
    DecryptNameUnit(&ctx, unit);

    // The same as DecryptBuffer over the 16 bytes, which deciphers block after block.
    auto viaBuffer = original;
    DecryptBuffer(viaBuffer.data(), 16, "names");
    EXPECT_EQ(std::vector<unsigned char>(unit, unit + 16), viaBuffer);

    // Changing the first block leaves the second block's plaintext as it was.
    unsigned char changed[16];
    std::memcpy(changed, original.data(), 16);
    changed[3] ^= 0x40;
    DecryptNameUnit(&ctx, changed);
    EXPECT_NE(std::memcmp(changed, unit, 8), 0);
    EXPECT_EQ(std::memcmp(changed + 8, unit + 8, 8), 0);

    EncryptNameUnit(&ctx, unit);
    EXPECT_EQ(std::vector<unsigned char>(unit, unit + 16), original);
}

}  // namespace
