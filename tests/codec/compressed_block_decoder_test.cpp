// Compressed blocks: the worked example, the context table's slots and stamps, the header fields,
// and every way a corrupt body must end in status 3 without leaving its buffers.
#include "codec/compressed_block_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "block_builder.h"

namespace {

using codec::ContextTable;
using codec::DecodeCompressedBlock;
using codec_test::BitWriter;
using codec_test::CountTokens;
using codec_test::EncodeBlock;
using codec_test::Lit;
using codec_test::Match;
using codec_test::Token;

struct Decoded {
    format::Status status;
    std::string bytes;
    uint32_t bits;
};

class BlockDecoderTest : public ::testing::Test {
  protected:
    BlockDecoderTest() : table_(static_cast<ContextTable*>(malloc(sizeof(ContextTable)))) {
        // Garbage everywhere: the decoder must clear or never read what it relies on.
        memset(table_, 0xA5, sizeof(ContextTable));
    }
    ~BlockDecoderTest() override { free(table_); }

    Decoded Decode(const std::vector<uint8_t>& paddedBody, uint32_t capacity = 1 << 20) {
        std::vector<uint8_t> out(capacity + 1, 0xEE);
        uint32_t produced = 0, bits = 0;
        uint32_t bodyBytes = static_cast<uint32_t>(paddedBody.size()) - codec::BODY_READ_SLACK;
        format::Status status = DecodeCompressedBlock(paddedBody.data(), bodyBytes, table_,
                                                      out.data(), capacity, &produced, &bits);
        EXPECT_EQ(out[capacity], 0xEE) << "wrote past the output area";
        return Decoded{status, std::string(out.begin(), out.begin() + produced), bits};
    }

    Decoded DecodeTokens(const std::vector<Token>& tokens, uint32_t literalWidth = 8,
                         uint32_t capacity = 1 << 20) {
        return Decode(EncodeBlock(tokens, CountTokens(tokens, literalWidth)).PaddedBody(),
                      capacity);
    }

    ContextTable* table_;
};

std::vector<uint8_t> WorkedExampleBody() {
    static const uint8_t kBody[16] = {0x07, 0x00, 0x00, 0x02, 0x01, 0x00, 0x71, 0x00,
                                      0x00, 0x11, 0x4E, 0xDC, 0x38, 0x01, 0xAE, 0x69};
    // Sized once, then filled: growing a 16-byte vector trips a false array-bounds warning of
    // GCC 12 in optimised builds.
    std::vector<uint8_t> body(sizeof kBody + codec::BODY_READ_SLACK, 0);
    std::copy(kBody, kBody + sizeof kBody, body.begin());
    return body;
}

std::vector<Token> AbcTokens() {
    return {Lit('a'), Lit('b'), Lit('c'), Lit('a'), Lit('b'), Lit('c'), Match(3, 0)};
}

TEST_F(BlockDecoderTest, WorkedExampleDecodesToAbcabcabcIn127Bits) {
    Decoded d = Decode(WorkedExampleBody());
    ASSERT_EQ(d.status, format::Status::Ok);
    EXPECT_EQ(d.bytes, "abcabcabc");
    EXPECT_EQ(d.bits, 127u);
}

TEST_F(BlockDecoderTest, TestEncoderReproducesTheWorkedExampleBitForBit) {
    BitWriter writer = EncodeBlock(AbcTokens(), CountTokens(AbcTokens(), 7));
    EXPECT_EQ(writer.bitCount(), 127u);
    EXPECT_EQ(writer.PaddedBody(), WorkedExampleBody());
}

// A slot as the format defines it, read from the decoder's table: an unwritten bucket's slots
// are empty (position 0, stamp 0) whatever its memory holds.
uint32_t SlotPosition(const ContextTable& table, uint32_t bucket, uint32_t slot) {
    return table.IsUsed(bucket) ? table.position[bucket][slot] & codec::POSITION_MASK : 0;
}
uint32_t SlotStamp(const ContextTable& table, uint32_t bucket, uint32_t slot) {
    return table.IsUsed(bucket) ? table.stamp[bucket][slot] : 0;
}

uint32_t Order2(uint8_t y, uint8_t z) {
    return ((y * 128u) ^ z) % 65536;
}

TEST_F(BlockDecoderTest, OverlappingMatchRepeatsBytesAndLeavesTheBucketStamped) {
    Decoded d = DecodeTokens({Lit('a'), Lit('a'), Lit('a'), Lit('a'), Match(5, 0)});
    ASSERT_EQ(d.status, format::Status::Ok);
    EXPECT_EQ(d.bytes, "aaaaaaaaa");
    const uint32_t bucket = Order2('a', 'a');
    EXPECT_EQ(SlotPosition(*table_, bucket, 0), 3u);
    EXPECT_EQ(SlotStamp(*table_, bucket, 0), 100u);
    EXPECT_EQ(SlotPosition(*table_, bucket, 1), 4u);
    EXPECT_EQ(SlotStamp(*table_, bucket, 1), 0u);
    EXPECT_EQ(SlotPosition(*table_, bucket, 2), 0u);
    EXPECT_EQ(SlotPosition(*table_, bucket, 3), 0u);
}

TEST_F(BlockDecoderTest, FreshPositionsKeepReplacingTheFirstUnprotectedSlot) {
    // Context "ab" collects positions in one bucket; the match protects slot 0.
    std::vector<Token> tokens = {Lit('x'), Lit('a'), Lit('b'),    Lit('1'),  // o=3: slot 0
                                 Lit('a'), Lit('b'), Match(1, 0),            // o=6: slot 1
                                 Lit('a'), Lit('b'), Lit('2')};              // o=9: slot 1 again
    Decoded d = DecodeTokens(tokens);
    ASSERT_EQ(d.status, format::Status::Ok);
    EXPECT_EQ(d.bytes, "xab1ab1ab2");
    const uint32_t bucket = Order2('a', 'b');
    EXPECT_EQ(SlotPosition(*table_, bucket, 0), 3u);
    EXPECT_EQ(SlotStamp(*table_, bucket, 0), 100u);
    EXPECT_EQ(SlotPosition(*table_, bucket, 1), 9u);
    EXPECT_EQ(SlotStamp(*table_, bucket, 1), 0u);
    EXPECT_EQ(SlotPosition(*table_, bucket, 2), 0u);
}

TEST_F(BlockDecoderTest, OnceEverySlotIsProtectedTheOldestUseIsReplaced) {
    // Four matches in context "bc" stamp slots 0..3 (100..103); the next position replaces slot 0.
    std::vector<Token> tokens = {Lit('a'),    Lit('b'),    Lit('c'),    Lit('a'),
                                 Lit('b'),    Lit('c'),    Match(3, 0), Match(3, 1),
                                 Match(3, 2), Match(3, 3), Lit('z')};
    Decoded d = DecodeTokens(tokens);
    ASSERT_EQ(d.status, format::Status::Ok);
    EXPECT_EQ(d.bytes, "abcabcabcabcabcabcz");
    const uint32_t bucket = Order2('b', 'c');
    EXPECT_EQ(SlotPosition(*table_, bucket, 0), 18u);
    EXPECT_EQ(SlotStamp(*table_, bucket, 0), 0u);
    EXPECT_EQ(SlotPosition(*table_, bucket, 1), 6u);
    EXPECT_EQ(SlotStamp(*table_, bucket, 1), 101u);
    EXPECT_EQ(SlotPosition(*table_, bucket, 2), 9u);
    EXPECT_EQ(SlotStamp(*table_, bucket, 2), 102u);
    EXPECT_EQ(SlotPosition(*table_, bucket, 3), 12u);
    EXPECT_EQ(SlotStamp(*table_, bucket, 3), 103u);
}

TEST_F(BlockDecoderTest, ZeroTokensProduceNothing) {
    Decoded d = DecodeTokens({});
    EXPECT_EQ(d.status, format::Status::Ok);
    EXPECT_EQ(d.bytes, "");
}

TEST_F(BlockDecoderTest, FifthTokenReadsANewFlagSymbolAndEveryOtherMatchASelector) {
    // Flag symbols 0, 12, 1; selector symbols 4 (slots 0 and 1) and 2 (slot 2).
    std::vector<Token> tokens = {Lit('a'), Lit('b'),    Lit('c'),    Lit('a'),   Lit('b'),
                                 Lit('c'), Match(3, 0), Match(3, 1), Match(2, 2)};
    codec_test::BlockTables tables = CountTokens(tokens);
    ASSERT_EQ(tables.flags.size(), 3u);
    ASSERT_EQ(tables.selectors.size(), 2u);
    Decoded d = DecodeTokens(tokens);
    ASSERT_EQ(d.status, format::Status::Ok);
    EXPECT_EQ(d.bytes, "abcabcabcabcab");
}

// Flag and selector symbols are probed for every token, needed or not; a code longer than the
// probe table must still be walked exactly when a new symbol is due. All sixteen symbols with
// weights halving from one to the next, the commonest symbols last, make each newcomer split the
// last leaf: the codes in use get lengths of up to 15 bits.
TEST_F(BlockDecoderTest, FlagAndSelectorCodesLongerThanTheProbeTable) {
    std::vector<uint8_t> expected;
    std::vector<Token> tokens = codec_test::RandomValidTokens(7, 3000, 4, &expected);
    codec_test::BlockTables tables = CountTokens(tokens);
    auto starve = [](std::vector<codec_test::SymbolCount>* counts) {
        std::vector<codec_test::SymbolCount> used = *counts;
        std::sort(used.begin(), used.end(),
                  [](const auto& a, const auto& b) { return a.weight < b.weight; });
        std::vector<uint32_t> order;
        for (uint32_t symbol = 0; symbol < 16; ++symbol) {
            auto isUsed = [symbol](const auto& entry) { return entry.symbol == symbol; };
            if (std::none_of(used.begin(), used.end(), isUsed)) order.push_back(symbol);
        }
        for (const auto& entry : used) order.push_back(entry.symbol);
        counts->clear();
        for (size_t i = 0; i < order.size(); ++i) {
            counts->push_back({order[i], 1u << (order.size() - 1 - i)});
        }
    };
    starve(&tables.flags);
    starve(&tables.selectors);
    codec::CodeTree flagTree = codec_test::BuildTree(tables.flags);
    codec::CodeTree selectorTree = codec_test::BuildTree(tables.selectors);
    EXPECT_GT(codec_test::CodeOf(flagTree, tables.flags.back().symbol).length,
              static_cast<int32_t>(codec::DECODE_TABLE_BITS));
    EXPECT_GT(codec_test::CodeOf(selectorTree, tables.selectors.back().symbol).length,
              static_cast<int32_t>(codec::DECODE_TABLE_BITS));
    flagTree.Destroy();
    selectorTree.Destroy();

    Decoded d = Decode(EncodeBlock(tokens, tables).PaddedBody());
    ASSERT_EQ(d.status, format::Status::Ok);
    EXPECT_EQ(d.bytes, std::string(expected.begin(), expected.end()));
}

TEST_F(BlockDecoderTest, LiteralWidthSevenAndZero) {
    std::vector<Token> tokens = {Lit('h'), Lit('i'), Lit('!')};
    EXPECT_EQ(DecodeTokens(tokens, 7).bytes, "hi!");
    Decoded zero = DecodeTokens(tokens, 0);
    ASSERT_EQ(zero.status, format::Status::Ok);
    EXPECT_EQ(zero.bytes, std::string(3, '\0'));
}

TEST_F(BlockDecoderTest, WideLiteralSymbolsKeepTheirLow8Bits) {
    codec_test::BlockTables tables;
    tables.literalWidth = 12;
    tables.flags = {{0, 1}};
    tables.literals = {{0x941, 1}, {0x342, 1}};
    tables.selectors = {{0, 1}};
    // Both literals share the first flag symbol; codes: 0x941 = "1", 0x342 = "0".
    BitWriter writer = EncodeBlock({}, tables, 2);
    writer.Put(1, 1);  // flag symbol 0
    writer.Put(1, 1);
    writer.Put(0, 1);
    Decoded d = Decode(writer.PaddedBody());
    ASSERT_EQ(d.status, format::Status::Ok);
    EXPECT_EQ(d.bytes, "AB");
}

TEST_F(BlockDecoderTest, EmptyLengthTableGivesLengthZeroMatchesThatStillUpdateTheContext) {
    std::vector<Token> tokens = {Lit('a'), Lit('a'), Lit('a'), Lit('a'), Match(0, 0), Lit('b')};
    codec_test::BlockTables tables = CountTokens(tokens);
    tables.lengths.clear();
    Decoded d = Decode(EncodeBlock(tokens, tables).PaddedBody());
    ASSERT_EQ(d.status, format::Status::Ok);
    EXPECT_EQ(d.bytes, "aaaab");
    const uint32_t bucket = Order2('a', 'a');
    EXPECT_EQ(SlotStamp(*table_, bucket, 0), 100u);  // the match raised slot 0
    EXPECT_EQ(SlotPosition(*table_, bucket, 1), 4u);
    // The literal after it sits at the same offset in the same context and replaces slot 1.
    EXPECT_EQ(SlotStamp(*table_, bucket, 1), 0u);
    EXPECT_EQ(SlotPosition(*table_, bucket, 2), 0u);
}

TEST_F(BlockDecoderTest, HighOrder3IndexFallsBackToTheOrder2Bucket) {
    // Context (0x10, y, z) has an order-3 index of 32768 or more; the order-2 bucket of (y, z)
    // was filled at offset 3 under another context.
    std::vector<Token> tokens = {Lit('a'),  Lit('y'), Lit('z'), Lit('1'),
                                 Lit(0x10), Lit('y'), Lit('z'), Match(1, 0)};
    Decoded d = DecodeTokens(tokens);
    ASSERT_EQ(d.status, format::Status::Ok);
    EXPECT_EQ(d.bytes, std::string("ayz1\x10yz1"));
}

TEST_F(BlockDecoderTest, MatchOnAnEmptySlotIsCorrupt) {
    EXPECT_EQ(DecodeTokens({Lit('a'), Lit('a'), Lit('a'), Lit('a'), Match(2, 1)}).status,
              format::Status::Corrupt);
}

TEST_F(BlockDecoderTest, MatchBeforeOffsetThreeIsCorrupt) {
    EXPECT_EQ(DecodeTokens({Lit('a'), Match(1, 0)}).status, format::Status::Corrupt);
    EXPECT_EQ(DecodeTokens({Lit('a'), Lit('b'), Match(1, 0)}).status, format::Status::Corrupt);
}

TEST_F(BlockDecoderTest, OutputBeyondTheAreaIsCorrupt) {
    EXPECT_EQ(Decode(WorkedExampleBody(), 9).status, format::Status::Ok);
    EXPECT_EQ(Decode(WorkedExampleBody(), 8).status, format::Status::Corrupt);
    EXPECT_EQ(Decode(WorkedExampleBody(), 5).status, format::Status::Corrupt);
    EXPECT_EQ(Decode(WorkedExampleBody(), 0).status, format::Status::Corrupt);
}

TEST_F(BlockDecoderTest, BitPositionPastThePaddedBodyIsCorrupt) {
    std::vector<uint8_t> expected;
    std::vector<Token> tokens = codec_test::RandomValidTokens(3, 400, 4, &expected);
    BitWriter writer = EncodeBlock(tokens, CountTokens(tokens));
    std::vector<uint8_t> full = writer.Body();
    ASSERT_EQ(Decode(writer.PaddedBody()).status, format::Status::Ok);
    for (size_t cut = 16; cut < full.size(); cut += 16) {
        std::vector<uint8_t> truncated(full.begin(), full.begin() + cut);
        truncated.resize(cut + codec::BODY_READ_SLACK, 0);
        EXPECT_EQ(Decode(truncated).status, format::Status::Corrupt) << cut;
    }
}

TEST_F(BlockDecoderTest, HugeTokenCountWithoutBitsEndsAtTheBodyEnd) {
    // The largest token count over a body that runs out: must stop with 3, not run on.
    std::vector<Token> tokens = {Lit('a'), Lit('b'), Lit('c')};
    Decoded d = Decode(EncodeBlock(tokens, CountTokens(tokens), 0xFFFFFF).PaddedBody());
    EXPECT_EQ(d.status, format::Status::Corrupt);
}

TEST_F(BlockDecoderTest, EscapeBeyondTheLastGrowingFieldIsCorrupt) {
    BitWriter writer;
    writer.Put(1, 24);
    writer.Put(0, 8);
    writer.Put(0, 16);
    writer.Put(0, 16);
    writer.Put(0, 4);  // flag symbol 0, then a weight escaping every field
    for (uint32_t width : {2u, 3u, 5u, 8u, 12u, 17u, 23u, 30u})
        writer.Put((1ull << width) - 1, width);
    writer.Put(0, 64);
    EXPECT_EQ(Decode(writer.PaddedBody()).status, format::Status::Corrupt);
}

TEST_F(BlockDecoderTest, RandomValidBlocksMatchTheReferenceModel) {
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        std::vector<uint8_t> expected;
        uint32_t alphabet = seed % 3 == 0 ? 256 - 'a' : 2 + seed % 7;
        std::vector<Token> tokens =
            codec_test::RandomValidTokens(seed, 50 + seed * 40, alphabet, &expected);
        std::vector<uint8_t> body = EncodeBlock(tokens, CountTokens(tokens)).PaddedBody();
        std::vector<uint8_t> reference;
        ASSERT_TRUE(codec_test::ReferenceDecode(body, &reference, 1 << 20)) << seed;
        ASSERT_EQ(reference, expected) << seed;
        Decoded d = Decode(body);
        ASSERT_EQ(d.status, format::Status::Ok) << seed;
        ASSERT_EQ(d.bytes, std::string(expected.begin(), expected.end())) << seed;
    }
}

TEST_F(BlockDecoderTest, RandomDamageNeverLeavesTheBuffers) {
    std::mt19937 random(11);
    std::vector<uint8_t> expected;
    std::vector<Token> tokens = codec_test::RandomValidTokens(5, 600, 5, &expected);
    std::vector<uint8_t> clean = EncodeBlock(tokens, CountTokens(tokens)).PaddedBody();
    for (int round = 0; round < 500; ++round) {
        std::vector<uint8_t> body = clean;
        size_t dataBytes = body.size() - codec::BODY_READ_SLACK;
        for (int flips = 1 + round % 4; flips > 0; --flips) {
            body[random() % dataBytes] ^= static_cast<uint8_t>(1u << (random() % 8));
        }
        uint32_t capacity = round % 2 ? static_cast<uint32_t>(expected.size()) : 1 << 16;
        Decoded d = Decode(body, capacity);
        EXPECT_TRUE(d.status == format::Status::Ok || d.status == format::Status::Corrupt);
        if (d.status == format::Status::Ok) {
            std::vector<uint8_t> reference;
            if (codec_test::ReferenceDecode(body, &reference, capacity)) {
                EXPECT_EQ(d.bytes, std::string(reference.begin(), reference.end()));
            }
        }
    }
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> body((1 + random() % 8) * 16 + codec::BODY_READ_SLACK);
        for (uint8_t& b : body) b = static_cast<uint8_t>(random());
        Decoded d = Decode(body, 4096);
        EXPECT_TRUE(d.status == format::Status::Ok || d.status == format::Status::Corrupt);
    }
}

}  // namespace
