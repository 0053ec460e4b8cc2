// Code trees: the lighter-side insertion rules that fix every code, and the table-driven decode
// checked against the probe-every-length decode the format defines.
#include "codec/code_tree.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "block_builder.h"

namespace {

using codec::CodeTree;
using codec_test::BuildTree;
using codec_test::CodeOf;
using codec_test::SymbolCount;

// A symbol's code as stream bits, first bit first ("01" = bit 0 then bit 1).
std::string CodeText(const CodeTree& tree, uint32_t symbol) {
    codec_test::Code code = CodeOf(tree, symbol);
    if (code.length < 0) return "absent";
    std::string text;
    for (int32_t i = 0; i < code.length; ++i) text += ((code.bits >> i) & 1) ? '1' : '0';
    return text;
}

struct TreeHolder {
    CodeTree tree;
    explicit TreeHolder(const std::vector<SymbolCount>& entries,
                        uint32_t tableBits = codec::DECODE_TABLE_BITS)
        : tree(BuildTree(entries, tableBits)) {}
    ~TreeHolder() { tree.Destroy(); }
};

constexpr uint32_t X = 'X', Y = 'Y', Z = 'Z', P = 'P', Q = 'Q', R = 'R', S = 'S';

TEST(CodeTreeShape, FirstSymbolGoesRightSecondLeft) {
    TreeHolder t({{X, 5}, {Y, 3}});
    EXPECT_EQ(CodeText(t.tree, X), "1");
    EXPECT_EQ(CodeText(t.tree, Y), "0");
}

TEST(CodeTreeShape, ThirdSymbolSplitsTheLighterSideAndTakesTheLeftWhenLighter) {
    TreeHolder t({{X, 5}, {Y, 3}, {Z, 2}});
    EXPECT_EQ(CodeText(t.tree, X), "1");
    EXPECT_EQ(CodeText(t.tree, Z), "00");
    EXPECT_EQ(CodeText(t.tree, Y), "01");
    EXPECT_EQ(t.tree.nodeCount, 5);
    EXPECT_EQ(t.tree.nodes[t.tree.nodes[0].left].symbol, codec::INTERNAL_NODE_SYMBOL);
}

TEST(CodeTreeShape, TiesGoRightAndNewcomersTakeTheLeftOfASplit) {
    TreeHolder t({{P, 4}, {Q, 4}, {R, 4}, {S, 4}});
    EXPECT_EQ(CodeText(t.tree, P), "11");
    EXPECT_EQ(CodeText(t.tree, Q), "01");
    EXPECT_EQ(CodeText(t.tree, R), "10");
    EXPECT_EQ(CodeText(t.tree, S), "00");
    EXPECT_EQ(t.tree.nodeCount, 7);
}

TEST(CodeTreeShape, HeavierNewcomerTakesTheRightOfASplit) {
    TreeHolder t({{X, 5}, {Y, 1}, {Z, 3}});
    EXPECT_EQ(CodeText(t.tree, Y), "00");
    EXPECT_EQ(CodeText(t.tree, Z), "01");
}

TEST(CodeTreeShape, ZeroWeightsAreSkippedWithoutChangingOtherCodes) {
    TreeHolder plain({{X, 5}, {Y, 3}, {Z, 2}});
    TreeHolder padded({{'A', 0}, {X, 5}, {'B', 0}, {Y, 3}, {'C', 0}, {Z, 2}, {'D', 0}});
    for (uint32_t symbol : {X, Y, Z}) {
        EXPECT_EQ(CodeText(padded.tree, symbol), CodeText(plain.tree, symbol));
    }
    EXPECT_EQ(CodeText(padded.tree, 'A'), "absent");
    EXPECT_EQ(padded.tree.nodeCount, plain.tree.nodeCount);
}

TEST(CodeTreeShape, TableOrderMattersNotWeightOrder) {
    TreeHolder t({{Y, 3}, {X, 5}});
    EXPECT_EQ(CodeText(t.tree, Y), "1");
    EXPECT_EQ(CodeText(t.tree, X), "0");
}

TEST(CodeTreeShape, SideWeightsAreTheTotalsBelowEachSide) {
    TreeHolder t({{P, 4}, {Q, 4}, {R, 4}, {S, 7}});
    const codec::CodeTreeNode& root = t.tree.nodes[0];
    EXPECT_EQ(root.leftWeight + root.rightWeight, 19u);
    for (int32_t i = 0; i < t.tree.nodeCount; ++i) {
        const codec::CodeTreeNode& node = t.tree.nodes[i];
        if (node.IsLeaf()) continue;
        EXPECT_EQ(node.weight, 0u);
    }
}

TEST(CodeTreeDecode, EmptyTreeGivesSymbolZeroWithoutConsumingBits) {
    TreeHolder t({{X, 0}, {Y, 0}});
    std::vector<uint8_t> bits(64, 0xFF);
    uint32_t pos = 5, symbol = 99;
    ASSERT_TRUE(codec::DecodeSymbol(t.tree, bits.data(), &pos, &symbol));
    EXPECT_EQ(symbol, 0u);
    EXPECT_EQ(pos, 5u);
}

TEST(CodeTreeDecode, OneSymbolTreeReadsBitOneAndRejectsBitZero) {
    TreeHolder t({{X, 7}});
    std::vector<uint8_t> bits(64, 0);
    bits[0] = 0x01;  // stream: 1, then zeros
    uint32_t pos = 0, symbol = 0;
    ASSERT_TRUE(codec::DecodeSymbol(t.tree, bits.data(), &pos, &symbol));
    EXPECT_EQ(symbol, X);
    EXPECT_EQ(pos, 1u);
    EXPECT_FALSE(codec::DecodeSymbol(t.tree, bits.data(), &pos, &symbol));
}

// Halving weights grow a chain: each symbol one level deeper than the one before.
std::vector<SymbolCount> SteepTable(uint32_t symbols) {
    std::vector<SymbolCount> entries;
    for (uint32_t i = 0; i < symbols; ++i) entries.push_back({i, 1u << (30 - i)});
    return entries;
}

TEST(CodeTreeDecode, CodesUpTo25BitsDecodeAndLongerOnesAreCorrupt) {
    TreeHolder t(SteepTable(30));
    bool saw25 = false, sawLonger = false;
    for (uint32_t symbol = 0; symbol < 30; ++symbol) {
        codec_test::Code code = CodeOf(t.tree, symbol);
        ASSERT_GE(code.length, 1);
        codec_test::BitWriter writer;
        writer.Put(1, 5);
        writer.Put(code.bits, static_cast<uint32_t>(code.length));
        std::vector<uint8_t> stream = writer.PaddedBody();
        uint32_t pos = 5, decoded = 0;
        bool ok = codec::DecodeSymbol(t.tree, stream.data(), &pos, &decoded);
        if (code.length <= 25) {
            ASSERT_TRUE(ok) << symbol;
            EXPECT_EQ(decoded, symbol);
            EXPECT_EQ(pos, 5u + static_cast<uint32_t>(code.length));
            saw25 = saw25 || code.length == 25;
        } else {
            EXPECT_FALSE(ok) << symbol;
            sawLonger = true;
        }
    }
    EXPECT_TRUE(saw25);
    EXPECT_TRUE(sawLonger);
}

// Every table width the decoders build: each level of the table repeats the one before.
TEST(CodeTreeDecode, TableDecodeMatchesProbingOnRandomTrees) {
    std::mt19937 random(7);
    for (int round = 0; round < 400; ++round) {
        const uint32_t widths[] = {1, 3, codec::SMALL_TABLE_BITS, codec::DECODE_TABLE_BITS};
        const uint32_t tableBits = widths[round % 4];
        uint32_t symbols = 1 + random() % 300;
        std::vector<SymbolCount> entries;
        for (uint32_t i = 0; i < symbols; ++i) {
            uint32_t weight = random() % 4 == 0 ? 0 : 1 + random() % (round % 2 ? 5 : 5000);
            entries.push_back({static_cast<uint32_t>(random() % 1000), weight});
        }
        TreeHolder t(entries, tableBits);
        std::vector<uint8_t> stream(4096 + 64);
        for (size_t i = 0; i < 4096; ++i) stream[i] = static_cast<uint8_t>(random());
        uint32_t fast = 0, slow = 0;
        for (int n = 0; n < 200; ++n) {
            uint32_t fastSymbol = 0;
            bool ok = true;
            uint32_t slowSymbol = codec_test::ProbeSymbol(t.tree, stream.data(), &slow, &ok);
            bool fastOk = codec::DecodeSymbol(t.tree, stream.data(), &fast, &fastSymbol);
            ASSERT_EQ(fastOk, ok) << round;
            if (!ok) break;
            ASSERT_EQ(fastSymbol, slowSymbol) << round;
            ASSERT_EQ(fast, slow) << round;
        }
    }
}

TEST(CodeTreeBuild, HostileDepthIsRefusedQuickly) {
    // Sums that wrap make the lighter side unpredictable; a table of the largest weights must
    // still build (or be refused) in bounded time.
    codec::SymbolTable table;
    ASSERT_TRUE(table.Create(65535));
    for (int32_t i = 0; i < table.count; ++i) table.entries[i].weight = 0x40000000u >> (i % 31);
    CodeTree tree = {};
    format::Status status = tree.Build(table);
    EXPECT_TRUE(status == format::Status::Ok || status == format::Status::Corrupt);
    EXPECT_LE(tree.maxDepth, codec::MAX_TREE_DEPTH);
    tree.Destroy();
    table.Release();
}

TEST(SymbolTable, StartsWithZeroWeightsAndIndexSymbolsOnA32ByteBoundary) {
    codec::SymbolTable table;
    ASSERT_TRUE(table.Create(16));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(table.entries) % 32, 0u);
    for (int32_t i = 0; i < 16; ++i) {
        EXPECT_EQ(table.entries[i].weight, 0u);
        EXPECT_EQ(table.entries[i].symbol, static_cast<uint32_t>(i));
    }
    table.Release();
    EXPECT_EQ(table.entries, nullptr);
}

}  // namespace
