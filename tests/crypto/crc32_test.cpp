// CRC-32: the standard check values, the table the object builds, splitting input across calls,
// and the fast kernels (slicing, carry-less folding) against a bit-at-a-time reference.
#include "crypto/crc32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// One bit per step, straight from the definition; slow but independent of any table.
uint32_t BitwiseRegister(uint32_t reg, const unsigned char* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit) reg = (reg >> 1) ^ ((reg & 1) ? 0xEDB88320u : 0u);
    }
    return reg;
}

std::vector<unsigned char> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> v(n);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
}

uint32_t CrcOf(const void* data, uint32_t length) {
    Crc32 crc;
    return crc.Update(data, length);
}

TEST(Crc32CheckValues, DigitsOneToNine) {
    EXPECT_EQ(CrcOf("123456789", 9), 0xCBF43926u);
}

TEST(Crc32CheckValues, EmptyInputIsZero) {
    Crc32 crc;
    EXPECT_EQ(crc.Value(), 0u);
    EXPECT_EQ(crc.Update(nullptr, 0), 0u);
    EXPECT_EQ(crc.reg, 0xFFFFFFFFu);
}

TEST(Crc32CheckValues, OneZeroByte) {
    const unsigned char zero = 0;
    EXPECT_EQ(CrcOf(&zero, 1), 0xD202EF8Du);
}

TEST(Crc32CheckValues, LongInputMatchesBitwiseDefinition) {
    // Long enough that Update takes its fastest kernel.
    auto data = RandomBytes(100000, 1);
    EXPECT_EQ(CrcOf(data.data(), uint32_t(data.size())),
              ~BitwiseRegister(0xFFFFFFFF, data.data(), data.size()));
}

TEST(Crc32Table, KnownEntries) {
    Crc32 crc;
    EXPECT_EQ(crc.table[0], 0u);
    EXPECT_EQ(crc.table[1], 0x77073096u);
    EXPECT_EQ(crc.table[128], 0xEDB88320u);
    EXPECT_EQ(crc.table[255], 0x2D02EF8Du);
}

TEST(Crc32Table, EveryEntryIsOneByteOfRegisterChange) {
    Crc32 crc;
    for (uint32_t i = 0; i < 256; ++i) {
        const unsigned char byte = static_cast<unsigned char>(i);
        EXPECT_EQ(crc.table[i], BitwiseRegister(0, &byte, 1)) << "entry " << i;
    }
}

TEST(Crc32ReflectBits, MirrorsTheLowBits) {
    EXPECT_EQ(ReflectBits(0x01, 8), 0x80u);
    EXPECT_EQ(ReflectBits(0xB4, 8), 0x2Du);
    EXPECT_EQ(ReflectBits(0x1, 32), 0x80000000u);
    EXPECT_EQ(ReflectBits(0x04C11DB7, 32), 0xEDB88320u);
    EXPECT_EQ(ReflectBits(0x6, 3), 0x3u);
}

TEST(Crc32ReflectBits, IgnoresBitsAboveTheCount) {
    EXPECT_EQ(ReflectBits(0x1FF, 8), 0xFFu);
    EXPECT_EQ(ReflectBits(0xFFFFFF00, 8), 0u);
}

TEST(Crc32ReflectBits, ZeroOrNegativeCountGivesZero) {
    EXPECT_EQ(ReflectBits(0xFFFFFFFF, 0), 0u);
    EXPECT_EQ(ReflectBits(0xFFFFFFFF, -3), 0u);
}

TEST(Crc32Splits, SecondCallContinuesTheFirst) {
    Crc32 crc;
    EXPECT_EQ(crc.Update("12345", 5), CrcOf("12345", 5));
    EXPECT_EQ(crc.Update("6789", 4), 0xCBF43926u);
    EXPECT_EQ(crc.Value(), 0xCBF43926u);
}

TEST(Crc32Splits, EmptyCallChangesNothing) {
    Crc32 crc;
    crc.Update("1234", 4);
    uint32_t before = crc.reg;
    EXPECT_EQ(crc.Update("x", 0), ~before);
    EXPECT_EQ(crc.reg, before);
}

TEST(Crc32Splits, SingleByteCallsEqualOneCall) {
    auto data = RandomBytes(1000, 2);
    Crc32 crc;
    uint32_t last = 0;
    for (unsigned char b : data) last = crc.Update(&b, 1);
    EXPECT_EQ(last, CrcOf(data.data(), uint32_t(data.size())));
}

TEST(Crc32Splits, RandomSplitsEqualOneCall) {
    auto data = RandomBytes(300000, 3);
    const uint32_t whole = CrcOf(data.data(), uint32_t(data.size()));
    std::mt19937 rng(4);
    for (int trial = 0; trial < 20; ++trial) {
        Crc32 crc;
        size_t pos = 0;
        uint32_t last = 0;
        while (pos < data.size()) {
            // Mix tiny pieces with ones long enough for the folding kernel.
            size_t piece = (rng() % 3 == 0) ? rng() % 20 : rng() % 5000;
            piece = std::min(piece, data.size() - pos);
            last = crc.Update(data.data() + pos, uint32_t(piece));
            pos += piece;
        }
        EXPECT_EQ(last, whole) << "trial " << trial;
    }
}

// Every kernel against the bitwise definition, for every length up to a few folding strides, at
// every alignment within 16 bytes, from several starting registers.
class Crc32Kernels : public ::testing::Test {
  protected:
    void CheckKernel(uint32_t (*kernel)(uint32_t, const unsigned char*, size_t)) {
        auto data = RandomBytes(600, 5);
        const uint32_t starts[] = {0xFFFFFFFFu, 0u, 0x12345678u};
        for (uint32_t start : starts) {
            for (size_t offset = 0; offset < 16; ++offset) {
                for (size_t length = 0; length + offset <= 400; ++length) {
                    const unsigned char* p = data.data() + offset;
                    ASSERT_EQ(kernel(start, p, length), BitwiseRegister(start, p, length))
                        << "offset " << offset << " length " << length;
                }
            }
        }
        auto big = RandomBytes((1 << 20) + 37, 6);
        EXPECT_EQ(kernel(0xFFFFFFFF, big.data() + 3, big.size() - 3),
                  BitwiseRegister(0xFFFFFFFF, big.data() + 3, big.size() - 3));
    }
};

TEST_F(Crc32Kernels, ByteLoopMatchesDefinition) {
    Crc32 crc;
    const uint32_t* table = crc.table;
    auto data = RandomBytes(257, 7);
    for (size_t length = 0; length <= data.size(); ++length) {
        ASSERT_EQ(Crc32UpdateBytes(table, 0xFFFFFFFF, data.data(), length),
                  BitwiseRegister(0xFFFFFFFF, data.data(), length));
    }
}

TEST_F(Crc32Kernels, SlicedMatchesDefinition) {
    CheckKernel(Crc32UpdateSliced);
}

TEST_F(Crc32Kernels, FoldedMatchesDefinition) {
    if (!Crc32HasCarrylessMultiply()) GTEST_SKIP() << "no PCLMULQDQ on this CPU";
    CheckKernel(Crc32UpdateFolded);
}

TEST_F(Crc32Kernels, WideFoldedMatchesDefinition) {
    if (!Crc32HasWideCarrylessMultiply()) GTEST_SKIP() << "no VPCLMULQDQ kernel for this CPU/build";
    CheckKernel(Crc32UpdateFoldedWide);
}

TEST_F(Crc32Kernels, AllZeroAndAllOnesInputs) {
    // Runs of equal bytes exercise the reduction without the help of varied data.
    for (unsigned char fill : {0x00, 0xFF}) {
        std::vector<unsigned char> data(4096 + 11, fill);
        uint32_t expected = BitwiseRegister(0xFFFFFFFF, data.data(), data.size());
        EXPECT_EQ(Crc32UpdateSliced(0xFFFFFFFF, data.data(), data.size()), expected);
        if (Crc32HasCarrylessMultiply()) {
            EXPECT_EQ(Crc32UpdateFolded(0xFFFFFFFF, data.data(), data.size()), expected);
        }
        if (Crc32HasWideCarrylessMultiply()) {
            EXPECT_EQ(Crc32UpdateFoldedWide(0xFFFFFFFF, data.data(), data.size()), expected);
        }
    }
}

}  // namespace
