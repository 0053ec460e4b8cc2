// Code tables: the replayed tree growth must give the codes the decoder's insertion gives, and the
// chosen tables must stay decodable (no code beyond 25 bits) and near the ideal code length.
#include <gtest/gtest.h>

#include <cmath>

#include "encoder/compress_tree.h"

namespace encoder {
namespace {

// Code as stream bits "0"/"1", first bit first.
std::string CodeText(const CodeTable& t, uint32_t symbol) {
    std::string s;
    for (unsigned i = 0; i < t.lengths[symbol]; ++i) s += ((t.codes[symbol] >> i) & 1) ? '1' : '0';
    return s;
}

TEST(TreeReplay, FirstSymbolTakesRightSecondTakesLeft) {
    CodeTable t;
    AssignCodes({{'X', 5}, {'Y', 3}}, 256, t);
    EXPECT_EQ(CodeText(t, 'X'), "1");
    EXPECT_EQ(CodeText(t, 'Y'), "0");
}

TEST(TreeReplay, LighterNewcomerSplitsTheLighterSideAndGoesLeft) {
    CodeTable t;
    AssignCodes({{'X', 5}, {'Y', 3}, {'Z', 2}}, 256, t);
    EXPECT_EQ(CodeText(t, 'X'), "1");
    EXPECT_EQ(CodeText(t, 'Z'), "00");
    EXPECT_EQ(CodeText(t, 'Y'), "01");
}

TEST(TreeReplay, EqualWeightsTieGoesRight) {
    CodeTable t;
    AssignCodes({{'P', 4}, {'Q', 4}, {'R', 4}, {'S', 4}}, 256, t);
    EXPECT_EQ(CodeText(t, 'P'), "11");
    EXPECT_EQ(CodeText(t, 'Q'), "01");
    EXPECT_EQ(CodeText(t, 'R'), "10");
    EXPECT_EQ(CodeText(t, 'S'), "00");
}

TEST(TreeReplay, ZeroWeightsAreSkipped) {
    CodeTable a, b;
    AssignCodes({{'X', 5}, {'Q', 0}, {'Y', 3}, {'Z', 2}}, 256, a);
    AssignCodes({{'X', 5}, {'Y', 3}, {'Z', 2}}, 256, b);
    for (uint32_t s : {'X', 'Y', 'Z'}) EXPECT_EQ(CodeText(a, s), CodeText(b, s));
    EXPECT_EQ(a.lengths['Q'], 0);
}

TEST(TreeReplay, OneSymbolIsTheSingleBitOne) {
    CodeTable t;
    AssignCodes({{7, 9}}, 16, t);
    EXPECT_EQ(CodeText(t, 7), "1");
}

// True when no code is a prefix of another and the lengths fill the code space (Kraft sum 1).
bool IsCompletePrefixCode(const CodeTable& t) {
    double kraft = 0;
    std::vector<std::string> codes;
    for (uint32_t s = 0; s < t.lengths.size(); ++s) {
        if (t.lengths[s] == 0) continue;
        kraft += std::ldexp(1.0, -t.lengths[s]);
        codes.push_back(CodeText(t, s));
    }
    std::sort(codes.begin(), codes.end());
    for (size_t i = 1; i < codes.size(); ++i)
        if (codes[i].compare(0, codes[i - 1].size(), codes[i - 1]) == 0) return false;
    return std::fabs(kraft - 1.0) < 1e-9;
}

auto FixedBits(unsigned n) {
    return [n](uint32_t) { return n; };
}

TEST(CodeTableChoice, SteepFibonacciCountsStayWithin25Bits) {
    std::vector<uint64_t> counts(256, 0);
    uint64_t a = 1, b = 1;
    for (int i = 0; i < 60; ++i) {
        counts[i] = a;
        uint64_t c = a + b;
        a = b;
        b = c;
    }
    CodeTable t = BuildCodeTable(counts, FixedBits(8));
    EXPECT_LE(t.maxLength, kMaxCodeLength);
    for (uint32_t s = 0; s < 60; ++s) EXPECT_GT(t.lengths[s], 0) << s;
    EXPECT_TRUE(IsCompletePrefixCode(t));
    for (const TableEntry& e : t.entries) EXPECT_GE(e.weight, 1u);
}

TEST(CodeTableChoice, PowersOfTwoCountsStayWithin25Bits) {
    std::vector<uint64_t> counts(40);
    for (int i = 0; i < 40; ++i) counts[i] = uint64_t{1} << i;
    CodeTable t = BuildCodeTable(counts, FixedBits(4));
    EXPECT_LE(t.maxLength, kMaxCodeLength);
    EXPECT_TRUE(IsCompletePrefixCode(t));
}

TEST(CodeTableChoice, SkewedTextLikeCountsCostCloseToEntropy) {
    std::vector<uint64_t> counts(256, 0);
    uint64_t total = 0;
    for (int s = 0; s < 256; ++s) {
        counts[s] = 1 + static_cast<uint64_t>(100000.0 / ((s + 1) * (s + 1) * 0.3 + 1));
        total += counts[s];
    }
    CodeTable t = BuildCodeTable(counts, FixedBits(8));
    double entropy = 0, coded = 0;
    for (int s = 0; s < 256; ++s) {
        double p = double(counts[s]) / total;
        entropy -= counts[s] * std::log2(p);
        coded += double(counts[s]) * t.lengths[s];
    }
    EXPECT_TRUE(IsCompletePrefixCode(t));
    EXPECT_LT(coded, entropy * 1.03);
}

TEST(CodeTableChoice, FullLengthTableStaysDecodable) {
    // 4096 distinct match lengths, about the most an 8 MiB block can use (1 + 2 + ... + 4096
    // bytes), with steep counts.
    std::vector<uint64_t> counts(4097, 0);
    for (uint32_t s = 1; s <= 4096; ++s) counts[s] = 1 + (uint64_t{1} << 30) / (uint64_t{s} * s);
    CodeTable t = BuildCodeTable(counts, [](uint32_t) { return 17u; });
    EXPECT_EQ(t.entries.size(), 4096u);
    EXPECT_LE(t.maxLength, kMaxCodeLength);
    EXPECT_TRUE(IsCompletePrefixCode(t));
}

TEST(CodeTableChoice, OnlyUsedSymbolsEnterTheTable) {
    std::vector<uint64_t> counts(300, 0);
    counts[3] = 5;
    counts[299] = 1;
    CodeTable t = BuildCodeTable(counts, FixedBits(16));
    ASSERT_EQ(t.entries.size(), 2u);
    EXPECT_EQ(t.lengths[3], 1);
    EXPECT_EQ(t.lengths[299], 1);
    EXPECT_EQ(t.lengths[4], 0);
}

TEST(CodeTableChoice, NoUsedSymbolGivesAnEmptyTable) {
    CodeTable t = BuildCodeTable(std::vector<uint64_t>(16, 0), FixedBits(4));
    EXPECT_TRUE(t.entries.empty());
    EXPECT_EQ(t.maxLength, 0u);
}

TEST(LimitedLengths, RespectTheLimitAndStayComplete) {
    std::vector<uint64_t> counts(30);
    for (int i = 0; i < 30; ++i) counts[i] = uint64_t{1} << i;
    std::vector<uint8_t> lengths = LimitedCodeLengths(counts, 8);
    double kraft = 0;
    for (uint8_t l : lengths) {
        EXPECT_GE(l, 1);
        EXPECT_LE(l, 8);
        kraft += std::ldexp(1.0, -l);
    }
    EXPECT_LE(kraft, 1.0 + 1e-12);
}

}  // namespace
}  // namespace encoder
