// LZ blocks (type 2) built by hand with fixed codes: what valid tokens produce, and every way a
// corrupt body must end in status 3 without touching memory outside its buffers.
#include "codec/lz_block_decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "block_builder.h"
#include "codec/compressed_block_decoder.h"
#include "format/block.h"

namespace {

using namespace format;
using codec_test::BitWriter;

// The flat codes every hand-built segment sends: main symbols 0-175 get 8 bits, the rest 9;
// slot symbols 0-17 get 5 bits, the rest 6. Both fill their code space exactly.
uint8_t FlatLength(uint32_t index) {
    if (index < kLzMainSymbols) return index < 176 ? 8 : 9;
    return (index - kLzMainSymbols) % kLzSlotSymbols < 18 ? 5 : 6;
}

struct Token {
    uint32_t kind;  // 0-3 recent, 4 new distance, 5 literal
    uint32_t length;
    uint32_t distance;  // new distances; the literal's byte
};
Token Lit(uint8_t byte) {
    return Token{5, 1, byte};
}
Token Rep(uint32_t kind, uint32_t length) {
    return Token{kind, length, 0};
}
Token Far(uint32_t length, uint32_t distance) {
    return Token{kLzKindNewDistance, length, distance};
}

class HandBlock {
  public:
    HandBlock(uint32_t size, uint32_t flags = 0) {
        bits_.Put(size, kLzSizeBits);
        bits_.Put(flags, kLzFlagBits);
    }

    // A segment header with the flat codes, sent through a precode of four 2-bit codes
    // (lengths 5, 6, 8 and 9).
    HandBlock& Segment(uint32_t tokens) {
        bits_.Put(tokens, kLzSizeBits);
        for (uint32_t s = 0; s < kLzPrecodeSymbols; ++s) {
            bool used = s == 5 || s == 6 || s == 8 || s == 9;
            bits_.Put(used ? 2 : 0, kLzPrecodeLengthBits);
        }
        for (uint32_t i = 0; i < kLzAllLengths; ++i) PutPrecode(FlatLength(i));
        BuildCodes();
        return *this;
    }

    HandBlock& Add(const Token& t) {
        if (t.kind == 5) {
            PutMain(t.distance);
            return *this;
        }
        uint32_t code = t.length - kLzMinMatch;
        if (code > 15) code = 15;
        PutMain(kLzLiterals + t.kind * kLzLengthCodes + code);
        if (t.length >= kLzLongLength) PutSlot(t.length - kLzLongLength);
        if (t.kind == kLzKindNewDistance) PutSlot(t.distance - 1);
        return *this;
    }
    HandBlock& Bits(uint64_t value, uint32_t count) {
        bits_.Put(value, count);
        return *this;
    }

    std::vector<uint8_t> Padded() const { return bits_.PaddedBody(); }
    uint32_t StreamBits() const { return bits_.bitCount(); }

  private:
    void PutPrecode(uint32_t length) {
        static const uint32_t kRank[] = {0, 0, 0, 0, 0, 0, 1, 0, 2, 3};  // 5, 6, 8, 9
        PutReversed(kRank[length], 2);
    }
    void PutReversed(uint32_t code, uint32_t len) {
        for (uint32_t b = len; b-- > 0;) bits_.Put((code >> b) & 1, 1);
    }
    void BuildCodes() {
        for (uint32_t s = 0; s < kLzMainSymbols; ++s) mainLengths_[s] = FlatLength(s);
        for (uint32_t s = 0; s < kLzSlotSymbols; ++s) {
            slotLengths_[s] = FlatLength(kLzMainSymbols + s);
        }
        LzCanonicalCodes(mainLengths_, kLzMainSymbols, main_);
        LzCanonicalCodes(slotLengths_, kLzSlotSymbols, slot_);
    }
    void PutMain(uint32_t symbol) { bits_.Put(main_[symbol], mainLengths_[symbol]); }
    void PutSlot(uint32_t value) {
        uint32_t slot = LzSlotOf(value);
        bits_.Put(slot_[slot], slotLengths_[slot]);
        bits_.Put(value - LzSlotBase(slot), LzSlotExtraBits(slot));
    }

    BitWriter bits_;
    uint32_t main_[kLzMainSymbols];
    uint32_t slot_[kLzSlotSymbols];
    uint8_t mainLengths_[kLzMainSymbols];
    uint8_t slotLengths_[kLzSlotSymbols];
};

struct Decoded {
    Status status;
    std::string bytes;
};

class LzBlockDecoderTest : public ::testing::Test {
  protected:
    LzBlockDecoderTest() : tables_(std::make_unique<codec::LzDecodeTables>()) {}

    Decoded Decode(const std::vector<uint8_t>& padded, uint32_t streamBits,
                   uint32_t capacity = 1 << 16) {
        std::vector<uint8_t> out(capacity + 1, 0xEE);
        uint32_t bodyBytes = static_cast<uint32_t>(padded.size()) - codec::BODY_READ_SLACK;
        uint32_t produced = 0;
        Status status = codec::DecodeLzBlock(padded.data(), bodyBytes, streamBits, tables_.get(),
                                             out.data(), capacity, &produced);
        EXPECT_EQ(out[capacity], 0xEE) << "wrote past the output area";
        if (status != Status::Ok) produced = 0;
        return Decoded{status, std::string(out.begin(), out.begin() + produced)};
    }
    Decoded Decode(const HandBlock& block, uint32_t capacity = 1 << 16) {
        return Decode(block.Padded(), block.StreamBits(), capacity);
    }

    std::unique_ptr<codec::LzDecodeTables> tables_;
};

HandBlock Tokens(uint32_t size, const std::vector<Token>& tokens, uint32_t flags = 0) {
    HandBlock block(size, flags);
    block.Segment(static_cast<uint32_t>(tokens.size()));
    for (const Token& t : tokens) block.Add(t);
    return block;
}

// docs/format.md's worked example: block header EA 04 00 00 (type 2, 157 bits), one segment of two
// tokens, the literal a and a match of length 9 at the first recent distance, 1.
TEST_F(LzBlockDecoderTest, WorkedExampleDecodesToItsBytes) {
    const std::vector<uint8_t> block = {
        0xEA, 0x04, 0x00, 0x00,  // header
        0x0A, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40,  //
        0x5A, 0xFD, 0x87, 0xF8, 0xFF, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
        0x00, 0x00, 0x00, 0x00};
    BlockHeader header = DecodeBlockHeader(block.data());
    ASSERT_EQ(header.type, kBlockLz);
    ASSERT_EQ(header.length, 157u);
    ASSERT_EQ(BodyBytes(header), block.size() - kBlockHeaderBytes);
    std::vector<uint8_t> padded(block.begin() + kBlockHeaderBytes, block.end());
    padded.resize(padded.size() + codec::BODY_READ_SLACK, 0);
    Decoded d = Decode(padded, header.length);
    EXPECT_EQ(d.status, Status::Ok);
    EXPECT_EQ(d.bytes, "aaaaaaaaaa");
}

TEST_F(LzBlockDecoderTest, ValidTokensProduceTheirBytes) {
    struct Case {
        const char* name;
        uint32_t size;
        std::vector<Token> tokens;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"literals", 3, {Lit('a'), Lit('b'), Lit('c')}, "abc"},
        {"new distance", 9, {Lit('a'), Lit('b'), Lit('c'), Far(6, 3)}, "abcabcabc"},
        {"overlapping run from distance 1", 6, {Lit('x'), Rep(0, 5)}, "xxxxxx"},
        {"initial recent distance 2", 6, {Lit('a'), Lit('b'), Rep(1, 4)}, "ababab"},
        {"long length through the length code", 40, {Lit('z'), Far(39, 1)}, std::string(40, 'z')},
        {"recent distances move to the front",
         14,
         {Lit('a'), Lit('b'), Lit('c'), Far(3, 3), Lit('d'), Far(2, 7), Rep(1, 3), Rep(1, 2)},
         "abcabcdabdabcd"},
    };
    for (const Case& c : cases) {
        Decoded d = Decode(Tokens(c.size, c.tokens));
        EXPECT_EQ(d.status, Status::Ok) << c.name;
        EXPECT_EQ(d.bytes, c.expected) << c.name;
    }
}

TEST_F(LzBlockDecoderTest, SegmentsKeepTheRecentDistances) {
    HandBlock block(8);
    block.Segment(3).Add(Lit('p')).Add(Lit('q')).Add(Far(2, 2));
    block.Segment(1).Add(Rep(0, 4));
    Decoded d = Decode(block);
    EXPECT_EQ(d.status, Status::Ok);
    EXPECT_EQ(d.bytes, "pqpqpqpq");
}

TEST_F(LzBlockDecoderTest, X86FilterTurnsTargetsBackIntoOffsets) {
    // E8 with operand 0x10 at offset 0 is a target of 0x10 after the filter; offset 0 + 5 back
    // gives 0x0B. An operand outside [-2^24, 2^24) is left as it is.
    std::vector<Token> tokens = {Lit(0xE8), Lit(0x10), Lit(0), Lit(0), Lit(0),
                                 Lit(0xE9), Lit(0),    Lit(0), Lit(0), Lit(0x40)};
    Decoded d = Decode(Tokens(10, tokens, kLzFilterX86));
    ASSERT_EQ(d.status, Status::Ok);
    EXPECT_EQ(d.bytes, std::string("\xE8\x0B\x00\x00\x00\xE9\x00\x00\x00\x40", 10));
}

// The writer's direction turns each operand into a target; the reader's turns it back. The first
// x86-64 case is the example of docs/format.md.
TEST(LzFilter, X64OperandsBecomeTargetsAndComeBack) {
    struct Case {
        const char* name;
        bool x64;
        std::vector<uint8_t> offsets, targets;
    };
    const std::vector<Case> cases = {
        {"RIP-relative lea",
         true,
         {0x48, 0x8D, 0x05, 0x10, 0, 0, 0},
         {0x48, 0x8D, 0x05, 0x17, 0, 0, 0}},
        {"RIP-relative store, REX.R, backwards, after two bytes",
         true,
         {0x90, 0x90, 0x4C, 0x89, 0x0D, 0xF0, 0xFF, 0xFF, 0xFF},
         {0x90, 0x90, 0x4C, 0x89, 0x0D, 0xF9, 0xFF, 0xFF, 0xFF}},
        {"call through a pointer", true, {0xFF, 0x15, 0x10, 0, 0, 0}, {0xFF, 0x15, 0x16, 0, 0, 0}},
        {"a pointer call without x64",
         false,
         {0xFF, 0x15, 0x10, 0, 0, 0},
         {0xFF, 0x15, 0x10, 0, 0, 0}},
        {"base register, not RIP",
         true,
         {0x48, 0x8B, 0x45, 0x10, 0, 0, 0},
         {0x48, 0x8B, 0x45, 0x10, 0, 0, 0}},
        {"no REX prefix", true, {0x8B, 0x05, 0x10, 0, 0, 0}, {0x8B, 0x05, 0x10, 0, 0, 0}},
        {"operand past the end", true, {0xFF, 0x15, 0x10, 0, 0}, {0xFF, 0x15, 0x10, 0, 0}},
        {"operand out of range", true, {0xFF, 0x15, 0, 0, 0, 0x40}, {0xFF, 0x15, 0, 0, 0, 0x40}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = c.offsets;
        const auto size = static_cast<uint32_t>(bytes.size());
        LzFilterX86(bytes.data(), size, true, c.x64);
        EXPECT_EQ(bytes, c.targets) << c.name;
        LzFilterX86(bytes.data(), size, false, c.x64);
        EXPECT_EQ(bytes, c.offsets) << c.name;
    }

    // The scan's tables agree with the rule at every position, on bytes dense in every pattern
    // and its near misses, and the reader's direction restores them.
    const uint8_t alphabet[] = {0xE8, 0xE9, 0xFF, 0x15, 0x25, 0x48, 0x4C, 0x89,
                                0x8B, 0x8D, 0x8F, 0x05, 0x0D, 0x45, 0x00, 0x01};
    std::vector<uint8_t> dense(4099);
    uint32_t seed = 1;
    for (uint8_t& b : dense) b = alphabet[(seed = seed * 1103515245 + 12345) >> 28];
    std::vector<uint8_t> scanned = dense, byRule = dense;
    const auto size = static_cast<uint32_t>(dense.size());
    LzFilterX86(scanned.data(), size, true, true);
    for (uint32_t i = 0; i < size;) {
        const uint32_t at = LzFilterOperandAt(byRule.data(), i, size);
        i = at == 0 ? i + 1 : LzFilterOperand(byRule.data(), i, at, true);
    }
    EXPECT_EQ(scanned, byRule);
    EXPECT_NE(scanned, dense);
    LzFilterX86(scanned.data(), size, false, true);
    EXPECT_EQ(scanned, dense);
}

TEST_F(LzBlockDecoderTest, CorruptBlocksEndWithStatus3) {
    struct Case {
        const char* name;
        HandBlock block;
    };
    std::vector<Case> cases = {
        {"distance one byte too far", Tokens(6, {Lit('a'), Lit('b'), Lit('c'), Far(3, 4)})},
        {"initial recent distance before the start", Tokens(3, {Lit('a'), Rep(2, 2)})},
        {"length past the block's end", Tokens(5, {Lit('a'), Rep(0, 5)})},
        {"reserved flag bit", Tokens(1, {Lit('a')}, 2)},
        {"x86-64 operands without history", Tokens(1, {Lit('a')}, kLzFilterX86 | kLzFilterX64)},
        {"size 0", HandBlock(0)},
        {"segment of 0 tokens", HandBlock(4).Segment(0)},
        {"token past the block's end", HandBlock(1).Segment(2).Add(Lit('a')).Add(Lit('b'))},
        {"tokens missing", Tokens(4, {Lit('a')})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Decode(c.block).status, Status::Corrupt) << c.name;
    }
    EXPECT_EQ(Decode(Tokens(5, {Lit('a'), Rep(0, 4)}), 4).status, Status::Corrupt)
        << "output beyond the area";
}

TEST_F(LzBlockDecoderTest, HeaderThatLiesAboutTheLengthIsCorrupt) {
    HandBlock block = Tokens(9, {Lit('a'), Lit('b'), Lit('c'), Far(6, 3)});
    std::vector<uint8_t> body = block.Padded();
    const uint32_t bits = block.StreamBits();
    ASSERT_EQ(Decode(body, bits).status, Status::Ok);
    EXPECT_EQ(Decode(body, bits - 1).status, Status::Corrupt) << "one bit short";
    EXPECT_EQ(Decode(body, bits + 1).status, Status::Corrupt) << "one bit long";
    EXPECT_EQ(Decode(body, 20).status, Status::Corrupt) << "shorter than the block header";
    uint32_t bodyBytes = static_cast<uint32_t>(body.size()) - codec::BODY_READ_SLACK;
    EXPECT_EQ(Decode(body, bodyBytes * 8 + 8).status, Status::Corrupt) << "longer than the body";
}

TEST_F(LzBlockDecoderTest, CodeLengthsThatBuildNoUsableCodeAreCorrupt) {
    // Precodes: all 19 symbols of length 1 over-fill; one symbol of length 2 leaves room.
    for (uint32_t precodeLength : {1u, 7u}) {
        HandBlock block(1);
        block.Bits(1, kLzSizeBits);
        for (uint32_t s = 0; s < kLzPrecodeSymbols; ++s) {
            block.Bits(precodeLength == 7 && s != 3 ? 0 : precodeLength, kLzPrecodeLengthBits);
        }
        block.Bits(0, 64);
        EXPECT_EQ(Decode(block).status, Status::Corrupt) << "precode length " << precodeLength;
    }
    // A run of the previous length with no length before it.
    HandBlock repeatFirst(1);
    repeatFirst.Bits(1, kLzSizeBits);
    for (uint32_t s = 0; s < kLzPrecodeSymbols; ++s) {
        repeatFirst.Bits(s == kLzRepeatPrevious || s == 0 ? 1 : 0, kLzPrecodeLengthBits);
    }
    repeatFirst.Bits(1, 1).Bits(0, 2);  // symbol 16 (code 1), repeat 3 times
    EXPECT_EQ(Decode(repeatFirst).status, Status::Corrupt);
}

TEST(LzLookupTest, AcceptsCompleteCodesAndOneCodeOfOneBitOnly) {
    struct Case {
        const char* name;
        std::vector<uint8_t> lengths;
        bool usable;
        uint32_t tableBits;
    };
    const std::vector<Case> cases = {
        {"complete", {1, 2, 3, 3}, true, 3},
        {"empty", {0, 0, 0}, true, 0},
        {"single code of 1 bit", {0, 1, 0}, true, 1},
        {"single code of 2 bits", {0, 2, 0}, false, 0},
        {"over-full", {1, 1, 1}, false, 0},
        {"incomplete", {1, 2, 0}, false, 0},
        {"longer than allowed", {1, 2, 3, 4, 5, 6, 7, 8, 8}, false, 0},
    };
    for (const Case& c : cases) {
        uint16_t table[1u << kLzMaxPrecodeLength];
        uint32_t bits = 99;
        bool usable =
            codec::BuildLzLookup(c.lengths.data(), static_cast<uint32_t>(c.lengths.size()),
                                 kLzMaxPrecodeLength, table, &bits);
        EXPECT_EQ(usable, c.usable) << c.name;
        if (usable) {
            EXPECT_EQ(bits, c.tableBits) << c.name;
        }
    }
    // The complete code {1, 2, 3, 3}: symbol 0 is code 0, symbol 1 code 10, symbols 2 and 3
    // codes 110 and 111, first bit lowest in the table index.
    uint8_t lengths[] = {1, 2, 3, 3};
    uint16_t table[8];
    uint32_t bits = 0;
    ASSERT_TRUE(codec::BuildLzLookup(lengths, 4, kLzMaxPrecodeLength, table, &bits));
    const uint16_t expected[8] = {0 << 4 | 1, 1 << 4 | 2, 0 << 4 | 1, 2 << 4 | 3,
                                  0 << 4 | 1, 1 << 4 | 2, 0 << 4 | 1, 3 << 4 | 3};
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(table[i], expected[i]) << "index " << i;
}

}  // namespace
