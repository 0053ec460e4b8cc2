// The writer's choice between a stored and a compressed block: a compressed block must save at
// least a sixteenth of the stored block, so data that shrinks by only a few percent is stored.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "byte_reading.h"
#include "encoder/block_encoder.h"
#include "encoder/encoder_state.h"

namespace {

using namespace packtest;

// Random bytes drawn evenly from the first alphabetSize byte values: the code tree can save at
// most log2(256 / alphabetSize) bits of every 8, and with no repeats to match, about that much.
std::vector<uint8_t> RandomOver(unsigned alphabetSize, size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng() % alphabetSize);
    return bytes;
}

std::vector<uint8_t> Best(const std::vector<uint8_t>& data, int level = 2) {
    std::vector<uint8_t> out;
    encoder::EncoderState state;
    encoder::EncodeBestBlock(data.data(), static_cast<uint32_t>(data.size()),
                             encoder::EncoderOptions{level}, state, out);
    return out;
}

std::vector<uint8_t> Compressed(const std::vector<uint8_t>& data, int level = 2) {
    std::vector<uint8_t> out;
    encoder::EncoderState state;
    encoder::EncodeCompressedBlock(data.data(), static_cast<uint32_t>(data.size()),
                                   encoder::EncoderOptions{level}, state, out);
    return out;
}

std::vector<uint8_t> Stored(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    encoder::EncodeStoredBlock(data.data(), static_cast<uint32_t>(data.size()), out);
    return out;
}

TEST(BlockChoice, StoredBlockSizeCountsHeaderAndPadding) {
    EXPECT_EQ(encoder::StoredBlockBytes(1), 4u + 16u);
    EXPECT_EQ(encoder::StoredBlockBytes(16), 4u + 16u);
    EXPECT_EQ(encoder::StoredBlockBytes(17), 4u + 32u);
    EXPECT_EQ(encoder::StoredBlockBytes(0x800000), 4u + 0x800000u);
    EXPECT_EQ(encoder::StoredBlockBytes(300000), Stored(std::vector<uint8_t>(300000, 7)).size());
}

TEST(BlockChoice, CompressedBlockMustSaveASixteenth) {
    for (uint64_t stored : {20ull, 36ull, 1000ull, 4ull + 0x800000}) {
        uint64_t limit = stored - stored / 16;
        EXPECT_TRUE(encoder::CompressionIsWorthwhile(limit, stored)) << stored;
        EXPECT_TRUE(encoder::CompressionIsWorthwhile(limit / 2, stored)) << stored;
        EXPECT_FALSE(encoder::CompressionIsWorthwhile(limit + 1, stored)) << stored;
        EXPECT_FALSE(encoder::CompressionIsWorthwhile(stored, stored)) << stored;
        EXPECT_FALSE(encoder::CompressionIsWorthwhile(stored + 16, stored)) << stored;
    }
}

// Already-compressed data: the compressed block is a little smaller than the stored one, but
// not enough to pay for decoding it token by token.
TEST(BlockChoice, DataThatShrinksByAFewPercentIsStored) {
    const auto data = RandomOver(200, 256 << 10, 3);
    const uint64_t stored = encoder::StoredBlockBytes(static_cast<uint32_t>(data.size()));
    for (int level : {1, 2}) {
        const auto compressed = Compressed(data, level);
        // The premise: compressing does save something, but less than a sixteenth.
        ASSERT_LT(compressed.size(), stored) << "level " << level;
        ASSERT_GT(compressed.size(), stored - stored / 16) << "level " << level;
        const auto best = Best(data, level);
        EXPECT_EQ(GetU32(best, 0) & 7u, 0u) << "level " << level;
        EXPECT_EQ(best, Stored(data)) << "level " << level;
    }
}

TEST(BlockChoice, DataThatShrinksByMoreThanASixteenthIsCompressed) {
    // Seven bits of every eight: about an eighth saved.
    const auto data = RandomOver(128, 256 << 10, 4);
    const uint64_t stored = encoder::StoredBlockBytes(static_cast<uint32_t>(data.size()));
    const auto compressed = Compressed(data);
    ASSERT_LE(compressed.size(), stored - stored / 16);
    const auto best = Best(data);
    EXPECT_EQ(GetU32(best, 0) & 7u, 1u);
    EXPECT_EQ(best, compressed);
}

TEST(BlockChoice, TextIsCompressed) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "entry " + std::to_string(i % 37) + " of the list\n";
    const std::vector<uint8_t> data(text.begin(), text.end());
    const auto best = Best(data);
    EXPECT_EQ(GetU32(best, 0) & 7u, 1u);
    EXPECT_EQ(best, Compressed(data));
    EXPECT_LT(best.size(), data.size() / 4);
}

TEST(BlockChoice, RandomDataIsStored) {
    const auto data = RandomOver(256, 100000, 5);
    EXPECT_EQ(Best(data), Stored(data));
}

}  // namespace
