// LZ blocks from the encoder, decoded by the codec's decoder: every shape of input comes back byte
// for byte, within the reader's bounds; code lengths stay within their limit and fill the code.
#include "format/lz_block.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/compressed_block_decoder.h"
#include "codec/lz_block_decoder.h"
#include "encoder/lz_block_encoder.h"
#include "encoder/lz_code_lengths.h"
#include "format/block.h"

namespace {

using format::Status;

// Encodes data as one LZ block in state lz, checks its framing and decodes it; returns the
// block's bytes.
size_t ExpectLzRoundTrip(encoder::LzEncoderState& lz, const std::vector<uint8_t>& data,
                         const std::string& what) {
    std::vector<uint8_t> block;
    EXPECT_EQ(encoder::EncodeLzBlock(data.data(), static_cast<uint32_t>(data.size()), lz, block),
              Status::Ok)
        << what;
    format::BlockHeader header = format::DecodeBlockHeader(block.data());
    EXPECT_EQ(header.type, format::kBlockLz) << what;
    EXPECT_EQ(format::BodyBytes(header), block.size() - format::kBlockHeaderBytes) << what;
    std::vector<uint8_t> body(block.begin() + format::kBlockHeaderBytes, block.end());
    body.resize(body.size() + codec::BODY_READ_SLACK, 0);
    auto tables = std::make_unique<codec::LzDecodeTables>();
    std::vector<uint8_t> out(data.size() + 8);
    uint32_t produced = 0;
    EXPECT_EQ(
        codec::DecodeLzBlock(body.data(), format::BodyBytes(header), header.length, tables.get(),
                             out.data(), static_cast<uint32_t>(out.size()), &produced),
        Status::Ok)
        << what;
    out.resize(produced);
    EXPECT_TRUE(out == data) << what;
    return block.size();
}

std::vector<uint8_t> Random(size_t size, uint32_t alphabet, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(size);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng() % alphabet);
    return out;
}

TEST(LzBlock, EveryShapeOfInputRoundTrips) {
    std::vector<uint8_t> allBytes;
    for (int i = 0; i < 256 * 3; ++i) allBytes.push_back(static_cast<uint8_t>(i * 7));
    std::vector<uint8_t> pattern;
    for (int i = 0; i < 40000; ++i)
        pattern.push_back(static_cast<uint8_t>("abcab"[i % 5] + i / 997));
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
        {"one byte", {42}},
        {"two bytes", {1, 2}},
        {"three equal bytes", {9, 9, 9}},
        {"run of one byte", std::vector<uint8_t>(100000, 'z')},
        {"all byte values", allBytes},
        {"shifting pattern", pattern},
        {"random bytes", Random(30000, 256, 1)},
        {"two-letter alphabet", Random(50000, 2, 2)},
        {"longer than a parse unit", Random(200000, 16, 3)},
        {"calls and jumps",
         [] {
             std::vector<uint8_t> code;
             for (uint32_t i = 0; code.size() < 60000; ++i) {
                 const uint8_t op[] = {0x55, 0x48, static_cast<uint8_t>(0xE8 + (i & 1))};
                 code.insert(code.end(), op, op + 3);
                 uint32_t rel = (i % 13) * 512 - static_cast<uint32_t>(code.size() + 4);
                 for (int b = 0; b < 4; ++b) code.push_back(static_cast<uint8_t>(rel >> (8 * b)));
             }
             return code;
         }()},
    };
    // One state serves every case, as the writer's pool reuses it: what a larger block left in
    // the match finder must not reach the next block.
    auto lz = std::make_unique<encoder::LzEncoderState>();
    for (const auto& [what, data] : cases) ExpectLzRoundTrip(*lz, data, what);
}

TEST(LzBlock, FilterIsChosenForCodeOnly) {
    std::vector<uint8_t> code;
    for (uint32_t i = 0; code.size() < 50000; ++i) {
        code.push_back(0xE8);
        uint32_t rel = (i % 20) * 1000 - static_cast<uint32_t>(code.size() + 4);
        for (int b = 0; b < 4; ++b) code.push_back(static_cast<uint8_t>(rel >> (8 * b)));
        code.push_back(0x90);
    }
    EXPECT_TRUE(encoder::LzLooksLikeX86(code.data(), static_cast<uint32_t>(code.size())));
    std::vector<uint8_t> text(50000, 'e');
    EXPECT_FALSE(encoder::LzLooksLikeX86(text.data(), static_cast<uint32_t>(text.size())));
    std::vector<uint8_t> noise = Random(50000, 256, 4);
    EXPECT_FALSE(encoder::LzLooksLikeX86(noise.data(), static_cast<uint32_t>(noise.size())));
}

TEST(LzBlock, RefusesSizesOutsideOneByteTo8MiB) {
    encoder::LzEncoderState lz;
    std::vector<uint8_t> out;
    uint8_t byte = 0;
    EXPECT_EQ(encoder::EncodeLzBlock(&byte, 0, lz, out), Status::InvalidArgument);
    EXPECT_EQ(encoder::EncodeLzBlock(&byte, format::kBlockBufferSize + 1, lz, out),
              Status::InvalidArgument);
    EXPECT_TRUE(out.empty());
}

TEST(LzCodeLengths, StayWithinTheLimitAndFillTheCode) {
    // Fibonacci counts make Huffman's code as deep as the symbols are many.
    std::vector<uint32_t> fibonacci = {1, 1};
    while (fibonacci.size() < 40) fibonacci.push_back(fibonacci.end()[-1] + fibonacci.end()[-2]);
    std::vector<uint32_t> oneUsed(20, 0);
    oneUsed[7] = 5;
    std::vector<uint32_t> flat(336, 3);
    for (const auto& counts : {fibonacci, oneUsed, flat}) {
        std::vector<uint8_t> lengths(counts.size());
        encoder::LimitedCodeLengths(counts.data(), static_cast<uint32_t>(counts.size()), 15,
                                    lengths.data());
        double kraft = 0;
        uint32_t used = 0;
        for (size_t s = 0; s < counts.size(); ++s) {
            EXPECT_EQ(lengths[s] == 0, counts[s] == 0) << "symbol " << s;
            EXPECT_LE(lengths[s], 15);
            if (lengths[s] != 0) kraft += 1.0 / (1u << lengths[s]), ++used;
        }
        EXPECT_DOUBLE_EQ(kraft, used == 1 ? 0.5 : 1.0);
    }
}

}  // namespace
