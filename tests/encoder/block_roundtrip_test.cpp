// Compressed blocks written by the encoder must decode to the original bytes, consume exactly the
// bits their header announces and keep every code within the decoder's reach, for every level and
// for inputs from empty to incompressible.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "codec/compressed_block_decoder.h"
#include "encoder/block_encoder.h"
#include "encoder/compress_parse.h"
#include "encoder/encoder_state.h"
#include "pack/archive_writer.h"
#include "reference_decoder.h"

namespace encoder {
namespace {

using pack::kMaxBlockSize;

std::vector<uint8_t> ReadFileBytes(const std::string& path, size_t limit = 8u << 20) {
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> bytes;
    if (!f) return bytes;
    bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    if (bytes.size() > limit) bytes.resize(limit);
    return bytes;
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

struct Encoded {
    std::vector<uint8_t> block;
    uint32_t bitLength;
};

Encoded Encode(const std::vector<uint8_t>& data, int level) {
    Encoded e;
    EncoderOptions options;
    options.level = level;
    EncoderState state;
    EncodeCompressedBlock(data.data(), static_cast<uint32_t>(data.size()), options, state, e.block);
    uint32_t header =
        e.block[0] | (e.block[1] << 8) | (e.block[2] << 16) | (uint32_t{e.block[3]} << 24);
    e.bitLength = header >> 3;
    return e;
}

// Encodes at the level, checks the framing and decodes; the caller checks the bytes.
void ExpectRoundTrip(const std::vector<uint8_t>& data, int level) {
    Encoded e = Encode(data, level);
    ASSERT_GE(e.block.size(), 4u);
    EXPECT_EQ(e.block[0] & 7, 1) << "block type";
    size_t body = e.block.size() - 4;
    EXPECT_EQ(body % 16, 0u);
    EXPECT_EQ(body, ((e.bitLength + 7) / 8 + 15) / 16 * 16) << "body length from the header";

    // The library's decoder, with the read slack it asks for after the body.
    std::vector<uint8_t> padded(e.block.begin() + 4, e.block.end());
    padded.resize(padded.size() + codec::BODY_READ_SLACK, 0xA5);
    auto table = std::make_unique<codec::ContextTable>();
    std::vector<uint8_t> decoded(data.size() + 64);
    uint32_t produced = 0, bitsUsed = 0;
    ASSERT_EQ(codec::DecodeCompressedBlock(
                  padded.data(), static_cast<uint32_t>(e.block.size() - 4), table.get(),
                  decoded.data(), static_cast<uint32_t>(decoded.size()), &produced, &bitsUsed),
              format::Status::Ok)
        << "level " << level;
    EXPECT_EQ(bitsUsed, e.bitLength) << "bits the library decoder read against the header";
    ASSERT_EQ(produced, data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), decoded.begin())) << "level " << level;

    std::optional<encoder_test::RefResult> r =
        encoder_test::RefDecodeBlock(e.block.data(), e.block.size());
    ASSERT_TRUE(r.has_value()) << "reference decoder refused the block, level " << level;
    EXPECT_EQ(r->bitsConsumed, e.bitLength) << "bits consumed against the header";
    EXPECT_LE(r->maxCodeLength, 25u);
    ASSERT_EQ(r->bytes.size(), data.size()) << "level " << level;
    EXPECT_TRUE(r->bytes == data) << "level " << level;
}

// The levels that write compressed blocks (type 1); level 3 writes LZ blocks (lz_block_test.cpp).
constexpr int kLevels[] = {1, 2};

void ExpectRoundTripAllLevels(const std::vector<uint8_t>& data) {
    for (int level : kLevels) ExpectRoundTrip(data, level);
}

// The reference decoder itself, on a block written by hand: abcabcabc in 127 bits.
TEST(ReferenceDecoder, DecodesTheHandWrittenBlock) {
    const std::vector<uint8_t> block = {0xF9, 0x03, 0x00, 0x00, 0x07, 0x00, 0x00, 0x02, 0x01, 0x00,
                                        0x71, 0x00, 0x00, 0x11, 0x4E, 0xDC, 0x38, 0x01, 0xAE, 0x69};
    std::optional<encoder_test::RefResult> r =
        encoder_test::RefDecodeBlock(block.data(), block.size());
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(std::string(r->bytes.begin(), r->bytes.end()), "abcabcabc");
    EXPECT_EQ(r->bitsConsumed, 127u);
    EXPECT_EQ(r->headerBits, 127u);
}

TEST(BlockRoundTrip, EmptyInputGivesAValidEmptyBlock) {
    ExpectRoundTripAllLevels({});
    Encoded e = Encode({}, 1);
    EXPECT_EQ(e.block.size(), 4u + 16u);
}

TEST(BlockRoundTrip, OneTwoAndThreeBytes) {
    ExpectRoundTripAllLevels(Bytes("a"));
    ExpectRoundTripAllLevels(Bytes("ab"));
    ExpectRoundTripAllLevels(Bytes("abc"));
    ExpectRoundTripAllLevels({0});
    ExpectRoundTripAllLevels({0, 0, 0});
    ExpectRoundTripAllLevels({255, 0, 255, 0});
}

TEST(BlockRoundTrip, ShortRepeats) {
    ExpectRoundTripAllLevels(Bytes("abcabcabc"));
    ExpectRoundTripAllLevels(Bytes("aaaaaaaaa"));
    ExpectRoundTripAllLevels(Bytes("abababababababab"));
}

TEST(BlockRoundTrip, RunsOfOneByteCompressToAFewBytes) {
    for (size_t n : {4u, 5u, 100u, 70000u, 1u << 20}) {
        std::vector<uint8_t> run(n, 'x');
        ExpectRoundTripAllLevels(run);
    }
    std::vector<uint8_t> zeros(1u << 20, 0);
    ExpectRoundTripAllLevels(zeros);
    EXPECT_LT(Encode(zeros, 2).block.size(), 400u);
}

TEST(BlockRoundTrip, AlternatingRunsAndPatterns) {
    std::vector<uint8_t> data;
    for (int i = 0; i < 2000; ++i) {
        data.insert(data.end(), static_cast<size_t>(i % 37 + 1), static_cast<uint8_t>(i % 5));
        data.push_back(static_cast<uint8_t>(i * 7));
    }
    ExpectRoundTripAllLevels(data);
}

TEST(BlockRoundTrip, RandomBytesSurvive) {
    std::mt19937 rng(12345);
    std::vector<uint8_t> data(300000);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    ExpectRoundTripAllLevels(data);
}

TEST(BlockRoundTrip, RandomSmallAlphabetsSurvive) {
    std::mt19937 rng(99);
    for (int alphabet : {2, 3, 4, 16}) {
        std::vector<uint8_t> data(50000);
        for (uint8_t& b : data) b = static_cast<uint8_t>('a' + rng() % alphabet);
        ExpectRoundTripAllLevels(data);
    }
}

TEST(BlockRoundTrip, SevenBitLiteralsUseSevenBitSymbols) {
    std::vector<uint8_t> text = Bytes("The quick brown fox jumps over the lazy dog. 0123456789\n");
    Encoded e = Encode(text, 2);
    EXPECT_EQ((e.block[4 + 6] >> 4) & 15, 7) << "literal width field";
    ExpectRoundTripAllLevels(text);

    std::vector<uint8_t> high = text;
    high.push_back(0xE9);
    Encoded h = Encode(high, 2);
    EXPECT_EQ((h.block[4 + 6] >> 4) & 15, 8);
    ExpectRoundTripAllLevels(high);
}

TEST(BlockRoundTrip, ManySmallMixedInputs) {
    // Pieces of runs, copies of earlier bytes and noise, in sizes around the first few tokens
    // and the flag and selector group boundaries.
    std::mt19937 rng(2024);
    for (int round = 0; round < 300; ++round) {
        size_t size = round < 40 ? static_cast<size_t>(round) : rng() % 3000;
        std::vector<uint8_t> data;
        while (data.size() < size) {
            switch (rng() % 3) {
                case 0:
                    data.insert(data.end(), rng() % 20 + 1, static_cast<uint8_t>(rng() % 4));
                    break;
                case 1:
                    if (!data.empty()) {
                        size_t from = rng() % data.size();
                        size_t n = std::min<size_t>(rng() % 40 + 1, data.size() - from);
                        for (size_t i = 0; i < n; ++i) data.push_back(data[from + i]);
                    }
                    break;
                default:
                    data.push_back(static_cast<uint8_t>(rng()));
            }
        }
        data.resize(size);
        SCOPED_TRACE(round);
        ExpectRoundTrip(data, 1 + round % 2);
    }
}

TEST(BlockRoundTrip, AllByteValues) {
    std::vector<uint8_t> data;
    for (int r = 0; r < 50; ++r)
        for (int b = 0; b < 256; ++b) data.push_back(static_cast<uint8_t>(b * (r + 1)));
    ExpectRoundTripAllLevels(data);
}

TEST(BlockRoundTrip, SteepLiteralFrequenciesKeepCodesShort) {
    // Byte i appears Fibonacci(i) times, shuffled: a Huffman code would run past 25 bits.
    std::vector<uint8_t> data;
    uint64_t a = 1, b = 1;
    for (int i = 0; i < 30; ++i) {
        data.insert(data.end(), static_cast<size_t>(a), static_cast<uint8_t>(i * 8 + 1));
        uint64_t c = a + b;
        a = b;
        b = c;
    }
    std::mt19937 rng(7);
    std::shuffle(data.begin(), data.end(), rng);
    data.resize(std::min<size_t>(data.size(), 1u << 20));
    ExpectRoundTrip(data, 1);
    ExpectRoundTrip(data, 2);
}

TEST(BlockRoundTrip, FilesOfThisMachine) {
    for (const char* path : {"/usr/share/common-licenses/GPL-3", "/usr/include/stdio.h", "/bin/ls",
                             "/usr/share/doc/bash/CHANGES.gz"}) {
        std::vector<uint8_t> data = ReadFileBytes(path);
        if (data.empty()) continue;
        SCOPED_TRACE(path);
        ExpectRoundTripAllLevels(data);
    }
}

TEST(BlockRoundTrip, HighlyRepetitiveTextCompressesFar) {
    std::vector<uint8_t> one = ReadFileBytes("/usr/share/common-licenses/GPL-3");
    if (one.empty()) one = Bytes(std::string(5000, 'q') + "some text here");
    std::vector<uint8_t> data;
    for (int i = 0; i < 64; ++i) data.insert(data.end(), one.begin(), one.end());
    ExpectRoundTripAllLevels(data);
    EXPECT_LT(Encode(data, 2).block.size(), data.size() / 20);
}

TEST(BestBlock, IncompressibleDataIsStored) {
    std::mt19937 rng(5);
    std::vector<uint8_t> data(100000);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> out;
    EncoderState state;
    EncodeBestBlock(data.data(), static_cast<uint32_t>(data.size()), EncoderOptions{}, state, out);
    ASSERT_EQ(out.size(), 4u + 100000u);
    EXPECT_EQ(out[0] & 7, 0);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + 4));
}

TEST(BestBlock, TextIsCompressed) {
    std::vector<uint8_t> data;
    for (int i = 0; i < 200; ++i) {
        std::string line = "line " + std::to_string(i) + ": the same words again\n";
        data.insert(data.end(), line.begin(), line.end());
    }
    std::vector<uint8_t> out;
    EncoderState state;
    EncodeBestBlock(data.data(), static_cast<uint32_t>(data.size()), EncoderOptions{}, state, out);
    EXPECT_EQ(out[0] & 7, 1);
    EXPECT_LT(out.size(), data.size() / 2);
}

TEST(CompressedBlock, RefusesABodyBeyondTheReadBuffer) {
    std::mt19937 rng(13);
    std::vector<uint8_t> data(kMaxBlockSize);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> out = {1, 2, 3};
    EncoderState state;
    EXPECT_EQ(EncodeCompressedBlock(data.data(), static_cast<uint32_t>(data.size()),
                                    EncoderOptions{1}, state, out),
              format::Status::InvalidArgument);
    EXPECT_EQ(out.size(), 3u) << "nothing appended";
}

TEST(BestBlock, FullSizeRandomBlockStaysWithinTheReadBuffer) {
    std::mt19937 rng(11);
    std::vector<uint8_t> data(kMaxBlockSize);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> out;
    EncoderState state;
    EncodeBestBlock(data.data(), static_cast<uint32_t>(data.size()), EncoderOptions{1}, state, out);
    EXPECT_LE(out.size() - 4, size_t{kMaxBlockSize});
}

// A state is reused from block to block; what an earlier block left in it must not change the
// next block's encoding, whatever the sizes and levels of the two.
TEST(EncoderState, AStateUsedBeforeEncodesAsAFreshOne) {
    std::mt19937 rng(17);
    std::vector<uint8_t> large(300000), small;
    for (uint8_t& b : large) b = static_cast<uint8_t>("abcdefgh"[rng() % 8]);
    for (int i = 0; i < 300; ++i) {
        std::string line = "entry " + std::to_string(i * 7) + " of the list\n";
        small.insert(small.end(), line.begin(), line.end());
    }
    for (int level : {1, 2}) {
        for (const auto* order : {&large, &small}) {
            const std::vector<uint8_t>& before = *order;
            const std::vector<uint8_t>& after = order == &large ? small : large;
            EncoderState fresh, used;
            std::vector<uint8_t> expected, first, second;
            const EncoderOptions options{level};
            EncodeBestBlock(after.data(), static_cast<uint32_t>(after.size()), options, fresh,
                            expected);
            EncodeBestBlock(before.data(), static_cast<uint32_t>(before.size()), options, used,
                            first);
            EncodeBestBlock(after.data(), static_cast<uint32_t>(after.size()), options, used,
                            second);
            EXPECT_EQ(second, expected) << "level " << level;
        }
    }
}

// Level 2 prices a small block with a length table cut to the block: every price a parse of the
// block can ask for must be the one the full table holds, or the block's bytes would change.
TEST(TokenPrices, ATableCutToTheBlockHoldsTheFullTablesPrices) {
    const std::vector<Token> tokens = {{0, 'a'}, {0, 'b'}, {3, 1}, {0, 'a'},
                                       {7, 0},   {3, 2},   {40, 3}};
    const TokenPrices full = TokenPrices::FromTokens(tokens, 60);
    ASSERT_EQ(full.length.size(), kMaxMatchLength + 1);
    for (uint32_t longest : {1u, 39u, 60u, 1000u}) {
        const TokenPrices cut = TokenPrices::FromTokens(tokens, 60, longest);
        ASSERT_EQ(cut.length.size(), std::max(longest, 40u) + 1) << longest;
        for (uint32_t n = 0; n < cut.length.size(); ++n) {
            ASSERT_EQ(cut.length[n], full.length[n]) << longest << " " << n;
        }
        EXPECT_EQ(cut.bytePrice, full.bytePrice);
        EXPECT_EQ(std::memcmp(cut.literal, full.literal, sizeof cut.literal), 0);
        EXPECT_EQ(std::memcmp(cut.selector, full.selector, sizeof cut.selector), 0);
    }
}

}  // namespace
}  // namespace encoder
