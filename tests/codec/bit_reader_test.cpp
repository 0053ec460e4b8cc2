// Field reads, the growing-width integer code and the block size functions.
#include "codec/bit_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "block_builder.h"

namespace {

using codec::ReadBits;
using codec::ReadGrowingInt;
using format::BitsToBytes;
using format::RoundUp16;

// Stream bits in stream order, packed as the format lays them out, with room for the read-ahead.
std::vector<uint8_t> Stream(const std::vector<int>& bits) {
    codec_test::BitWriter writer;
    for (int bit : bits) writer.Put(static_cast<uint64_t>(bit), 1);
    return writer.PaddedBody();
}

TEST(ReadBits, TakesLowBitsFirstAcrossByteBoundaries) {
    std::vector<uint8_t> bytes(16, 0);
    bytes[1] = 0xA0;  // bits 5, 7 set; bit 6 clear
    bytes[2] = 0x02;  // bit 1 set; bit 0 clear
    // Result bits 0..2 come from bits 5..7 of byte 1, bits 3..4 from bits 0..1 of byte 2.
    EXPECT_EQ(ReadBits(bytes.data(), 13, 5), 0x15u);
}

TEST(ReadBits, ZeroWidthReadsNothing) {
    std::vector<uint8_t> bytes(16, 0xFF);
    EXPECT_EQ(ReadBits(bytes.data(), 0, 0), 0u);
    EXPECT_EQ(ReadBits(bytes.data(), 13, 0), 0u);
    // The width is taken modulo 32.
    EXPECT_EQ(ReadBits(bytes.data(), 3, 32), 0u);
}

TEST(ReadBits, IsExactUpTo25BitsAtEveryOffset) {
    std::vector<uint8_t> bytes = {0x5A, 0xC3, 0x96, 0x0F, 0xE1, 0x7B, 0x24, 0x88, 0, 0, 0, 0};
    for (uint32_t pos = 0; pos < 32; ++pos) {
        for (uint32_t n = 1; n <= 25; ++n) {
            uint32_t expected = 0;
            for (uint32_t i = 0; i < n; ++i) {
                uint32_t k = pos + i;
                expected |= static_cast<uint32_t>((bytes[k / 8] >> (k % 8)) & 1) << i;
            }
            ASSERT_EQ(ReadBits(bytes.data(), pos, n), expected) << pos << " " << n;
        }
    }
}

struct GrowingCase {
    std::vector<int> bits;
    uint32_t value;
};

TEST(GrowingInt, DecodesTheDocumentedBitPatterns) {
    std::vector<GrowingCase> cases = {
        {{0, 0}, 1},
        {{0, 1}, 3},
        {{1, 1, 0, 0, 0}, 4},
        {{1, 1, 0, 1, 1}, 10},
        {{1, 1, 1, 1, 1, 0, 0, 0, 0, 0}, 11},
    };
    for (const GrowingCase& c : cases) {
        std::vector<uint8_t> stream = Stream(c.bits);
        uint32_t pos = 0;
        EXPECT_EQ(ReadGrowingInt(stream.data(), &pos), c.value);
        EXPECT_EQ(pos, c.bits.size());
    }
}

TEST(GrowingInt, FieldWidthsGrowAsTwoThreeFiveEightAndOn) {
    // First value of each code length: one past the sum of the escapes before it.
    const uint32_t widths[] = {2, 3, 5, 8, 12, 17, 23, 30};
    uint32_t escapes = 0;
    uint32_t totalBits = 0;
    for (uint32_t fields = 1; fields <= 8; ++fields) {
        uint32_t width = widths[fields - 1];
        totalBits += width;
        uint32_t first = escapes + 1;
        uint32_t last = escapes + (1u << width) - 1;
        for (uint32_t value : {first, last}) {
            codec_test::BitWriter writer;
            writer.Put(1, 3);  // start off byte alignment
            writer.PutGrowingInt(value);
            std::vector<uint8_t> stream = writer.PaddedBody();
            uint32_t pos = 3;
            EXPECT_EQ(ReadGrowingInt(stream.data(), &pos), value) << fields;
            EXPECT_EQ(pos, 3 + totalBits) << fields;
        }
        escapes += (1u << width) - 1;
    }
}

TEST(GrowingInt, SevenFieldsReachExactly8524069) {
    codec_test::BitWriter writer;
    writer.PutGrowingInt(8524069);
    writer.PutGrowingInt(8524070);
    std::vector<uint8_t> stream = writer.PaddedBody();
    uint32_t pos = 0;
    EXPECT_EQ(ReadGrowingInt(stream.data(), &pos), 8524069u);
    EXPECT_EQ(pos, 70u);
    EXPECT_EQ(ReadGrowingInt(stream.data(), &pos), 8524070u);
    EXPECT_EQ(pos, 170u);
}

TEST(GrowingInt, EscapeOutOfTheLastFieldIsRejected) {
    codec_test::BitWriter writer;
    for (uint32_t width : {2u, 3u, 5u, 8u, 12u, 17u, 23u, 30u})
        writer.Put((1ull << width) - 1, width);
    std::vector<uint8_t> stream = writer.PaddedBody();
    uint32_t pos = 0;
    EXPECT_EQ(ReadGrowingInt(stream.data(), &pos), 0u);
}

TEST(BlockSizes, BitsToBytesRoundsUp) {
    EXPECT_EQ(BitsToBytes(0), 0u);
    EXPECT_EQ(BitsToBytes(1), 1u);
    EXPECT_EQ(BitsToBytes(8), 1u);
    EXPECT_EQ(BitsToBytes(9), 2u);
    EXPECT_EQ(BitsToBytes(127), 16u);
}

TEST(BlockSizes, RoundUp16GivesTheNextMultipleOf16) {
    EXPECT_EQ(RoundUp16(0), 0u);
    EXPECT_EQ(RoundUp16(1), 16u);
    EXPECT_EQ(RoundUp16(16), 16u);
    EXPECT_EQ(RoundUp16(17), 32u);
    EXPECT_EQ(RoundUp16(134), 144u);
}

}  // namespace
