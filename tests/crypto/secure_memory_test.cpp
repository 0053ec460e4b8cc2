// The wipe, the constant-time comparison and the system's random source.
#include "crypto/secure_memory.h"

#include <gtest/gtest.h>

#include <cstring>

#include "crypto/random_bytes.h"

namespace {

TEST(SecureMemory, WipeZeroesExactlyTheGivenBytes) {
    unsigned char buffer[40];
    std::memset(buffer, 0xAB, sizeof buffer);
    SecureWipe(buffer + 4, 32);
    for (size_t i = 0; i < sizeof buffer; ++i) {
        EXPECT_EQ(buffer[i], (i >= 4 && i < 36) ? 0 : 0xAB) << i;
    }
}

// A difference in any byte, and in any bit of it, is seen; an empty range is equal.
TEST(SecureMemory, ConstantTimeEqualSeesEveryBit) {
    unsigned char a[16], b[16];
    for (int i = 0; i < 16; ++i) a[i] = b[i] = static_cast<unsigned char>(i * 31);
    EXPECT_TRUE(ConstantTimeEqual(a, b, sizeof a));
    EXPECT_TRUE(ConstantTimeEqual(a, b, 0));
    for (int bit = 0; bit < 128; ++bit) {
        b[bit / 8] ^= static_cast<unsigned char>(1 << bit % 8);
        EXPECT_FALSE(ConstantTimeEqual(a, b, sizeof a)) << bit;
        b[bit / 8] ^= static_cast<unsigned char>(1 << bit % 8);
    }
}

// Two draws of 64 bytes differ, and neither is the untouched buffer (chance 2^-512 each).
TEST(SystemRandomBytes, FillsTheBufferWithFreshBytes) {
    unsigned char first[64] = {}, second[64] = {}, zero[64] = {};
    ASSERT_TRUE(SystemRandomBytes(first, sizeof first));
    ASSERT_TRUE(SystemRandomBytes(second, sizeof second));
    EXPECT_NE(std::memcmp(first, zero, sizeof zero), 0);
    EXPECT_NE(std::memcmp(first, second, sizeof first), 0);
    EXPECT_TRUE(SystemRandomBytes(first, 0));
}

}  // namespace
