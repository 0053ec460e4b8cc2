// Compressed block writer: parses the data into tokens, gathers the four symbol alphabets (token
// flags in groups of four, literal bytes, match lengths, slot selectors in pairs), builds a code
// table for each and writes header, tables and token codes as one bit stream.
#include "encoder/compressed_block_encoder.h"

#include <algorithm>
#include <bit>

#include "encoder/block_encoder.h"
#include "encoder/compress_bits.h"
#include "encoder/compress_context.h"
#include "encoder/compress_parse.h"
#include "encoder/compress_tree.h"
#include "encoder/encoder_state.h"
#include "encoder/lz_block_encoder.h"
#include "format/block.h"

namespace encoder {
namespace {

using format::kBlockBufferSize;
using format::Status;
// Bytes of a block's start that level 2 parses greedily to price its tokens.
constexpr uint32_t kPriceSample = 256u << 10;

// The last group of flags or selectors may be partial; its unused bits are free, so it takes the
// value of the most frequent full group that agrees on the bits in use.
uint32_t CompletePartial(uint32_t symbol, unsigned usedBits, const std::vector<uint64_t>& counts) {
    uint32_t mask = (1u << usedBits) - 1;
    uint32_t best = symbol;
    uint64_t bestCount = 0;
    for (uint32_t s = 0; s < counts.size(); ++s) {
        if ((s & mask) == symbol && counts[s] > bestCount) {
            best = s;
            bestCount = counts[s];
        }
    }
    return best;
}

void WriteTable(BitWriter& bits, const CodeTable& table, const std::function<void(uint32_t)>& put) {
    for (const TableEntry& e : table.entries) {
        put(e.symbol);
        bits.WriteGrowingInt(e.weight);
    }
}

// A table that must hold at least one entry gets a harmless one when nothing uses it.
void EnsureEntry(CodeTable& table) {
    if (!table.entries.empty()) return;
    table.entries.push_back({0, 1});
    AssignCodes(table.entries, static_cast<uint32_t>(table.codes.size()), table);
}

// The four alphabets of a block's tokens, grouped as the decoder reads them: flags by four and
// selectors by two, each partial last group completed.
struct TokenAlphabets {
    std::vector<uint32_t> flagSymbols;
    std::vector<uint32_t> selectorSymbols;
    std::vector<uint64_t> literalCounts = std::vector<uint64_t>(256, 0);
    std::vector<uint64_t> flagCounts = std::vector<uint64_t>(16, 0);
    std::vector<uint64_t> selectorCounts = std::vector<uint64_t>(16, 0);
    std::vector<uint64_t> lengthCounts;
    uint32_t maxLiteral = 0;
};

TokenAlphabets GatherAlphabets(const std::vector<Token>& tokens) {
    TokenAlphabets a;
    a.flagSymbols.assign((tokens.size() + 3) / 4, 0);
    uint32_t maxLength = 0;
    size_t matches = 0;
    for (size_t t = 0; t < tokens.size(); ++t) {
        const Token& token = tokens[t];
        if (token.length == 0) {
            ++a.literalCounts[token.value];
            a.maxLiteral = std::max<uint32_t>(a.maxLiteral, token.value);
            continue;
        }
        a.flagSymbols[t / 4] |= 1u << (t % 4);
        maxLength = std::max(maxLength, token.length);
        if (matches % 2 == 0) a.selectorSymbols.push_back(0);
        a.selectorSymbols.back() |= static_cast<uint32_t>(token.value) << (2 * (matches % 2));
        ++matches;
    }
    a.lengthCounts.assign(maxLength + 1, 0);
    for (const Token& token : tokens)
        if (token.length != 0) ++a.lengthCounts[token.length];

    size_t fullFlagGroups = tokens.size() / 4;
    for (size_t g = 0; g < fullFlagGroups; ++g) ++a.flagCounts[a.flagSymbols[g]];
    if (fullFlagGroups < a.flagSymbols.size()) {
        uint32_t& last = a.flagSymbols.back();
        last = CompletePartial(last, tokens.size() % 4, a.flagCounts);
        ++a.flagCounts[last];
    }
    size_t fullSelectorPairs = matches / 2;
    for (size_t g = 0; g < fullSelectorPairs; ++g) ++a.selectorCounts[a.selectorSymbols[g]];
    if (fullSelectorPairs < a.selectorSymbols.size()) {
        uint32_t& last = a.selectorSymbols.back();
        last = CompletePartial(last, 2, a.selectorCounts);
        ++a.selectorCounts[last];
    }
    return a;
}

struct BlockTables {
    unsigned literalWidth;
    CodeTable flags;
    CodeTable literals;
    CodeTable lengths;
    CodeTable selectors;
};

BlockTables BuildTables(const TokenAlphabets& a) {
    const unsigned literalWidth = static_cast<unsigned>(std::bit_width(a.maxLiteral));
    auto fourBits = [](uint32_t) { return 4u; };
    BlockTables tables{
        literalWidth, BuildCodeTable(a.flagCounts, fourBits),
        BuildCodeTable(a.literalCounts, [literalWidth](uint32_t) { return literalWidth; }),
        BuildCodeTable(a.lengthCounts, GrowingIntBits), BuildCodeTable(a.selectorCounts, fourBits)};
    EnsureEntry(tables.flags);
    EnsureEntry(tables.literals);
    EnsureEntry(tables.selectors);
    return tables;
}

// The body's 64-bit head and the four tables, in the decoder's order.
void WriteHeadAndTables(BitWriter& bits, size_t tokenCount, const BlockTables& tables) {
    const auto count = [](const CodeTable& table) {
        return static_cast<uint32_t>(table.entries.size());
    };
    uint32_t head[2];
    format::EncodeCompressedHead(
        format::CompressedHead{static_cast<uint32_t>(tokenCount), count(tables.literals),
                               count(tables.lengths), count(tables.flags), tables.literalWidth,
                               count(tables.selectors)},
        head);
    bits.Write(head[0], 32);
    bits.Write(head[1], 32);
    const unsigned literalWidth = tables.literalWidth;
    WriteTable(bits, tables.flags, [&](uint32_t s) { bits.Write(s, 4); });
    WriteTable(bits, tables.literals, [&](uint32_t s) { bits.Write(s, literalWidth); });
    WriteTable(bits, tables.lengths, [&](uint32_t s) { bits.WriteGrowingInt(s); });
    WriteTable(bits, tables.selectors, [&](uint32_t s) { bits.Write(s, 4); });
}

// Each token's codes: a flag group before every fourth token, a selector pair before every
// second match.
void WriteTokenCodes(BitWriter& bits, const std::vector<Token>& tokens, const TokenAlphabets& a,
                     const BlockTables& tables) {
    size_t matches = 0;
    for (size_t t = 0; t < tokens.size(); ++t) {
        if (t % 4 == 0) {
            uint32_t s = a.flagSymbols[t / 4];
            bits.Write(tables.flags.codes[s], tables.flags.lengths[s]);
        }
        const Token& token = tokens[t];
        if (token.length == 0) {
            bits.Write(tables.literals.codes[token.value], tables.literals.lengths[token.value]);
            continue;
        }
        bits.Write(tables.lengths.codes[token.length], tables.lengths.lengths[token.length]);
        if (matches % 2 == 0) {
            uint32_t s = a.selectorSymbols[matches / 2];
            bits.Write(tables.selectors.codes[s], tables.selectors.lengths[s]);
        }
        ++matches;
    }
}

}  // namespace

Status EncodeTokens(const std::vector<Token>& tokens, std::vector<uint8_t>& out) {
    const TokenAlphabets alphabets = GatherAlphabets(tokens);
    const BlockTables tables = BuildTables(alphabets);

    // Block header first, its bit length filled in once the stream is written.
    out.reserve(out.size() + tokens.size() + tokens.size() / 4 + 4096);
    size_t headerAt = out.size();
    out.resize(out.size() + format::kBlockHeaderBytes, 0);
    size_t bodyAt = out.size();
    BitWriter bits(out);
    WriteHeadAndTables(bits, tokens.size(), tables);
    WriteTokenCodes(bits, tokens, alphabets, tables);
    uint64_t bitLength = bits.BitCount();
    bits.Finish();
    if (bitLength > format::kMaxBlockLength) {
        out.resize(headerAt);
        return Status::InvalidArgument;
    }
    size_t bodyBytes = out.size() - bodyAt;
    out.resize(bodyAt + format::RoundUp16(static_cast<uint32_t>(bodyBytes)), 0);
    format::EncodeBlockHeader(
        format::BlockHeader{format::kBlockCompressed, static_cast<uint32_t>(bitLength)},
        &out[headerAt]);
    return Status::Ok;
}

namespace {

// The compressed block of data, whatever the size of its body.
Status EncodeCompressed(const uint8_t* data, uint32_t size, const EncoderOptions& options,
                        EncoderState& state, std::vector<uint8_t>& out) {
    if (size > kBlockBufferSize) return Status::InvalidArgument;
    if (options.level >= kLzLevel) return EncodeLzBlock(data, size, state.lz, out);
    // Level 1 parses greedily. Level 2 prices tokens from a greedy parse and weighs every choice
    // by playing a greedy token past it: a choice changes which positions the buckets keep, so
    // its worth shows only in the tokens after it. Prices from the block's start are close enough
    // for the whole block and spare most of a pass. Searching harder (whole-block prices, longer
    // horizons, repeated passes) took five times as long for half a percent, so there is no
    // higher level: the four positions a match may name limit what any parse finds.
    std::vector<Token> tokens;
    if (options.level <= 1) {
        tokens = ParseGreedy(data, size, 2, state.contexts);
    } else {
        uint32_t sample = std::min(size, kPriceSample);
        TokenPrices prices = TokenPrices::FromTokens(ParseGreedy(data, sample, 2, state.contexts),
                                                     sample, std::min(size, kMaxMatchLength));
        tokens = ParseLookahead(data, size, prices, LookaheadOptions{1, 1}, state.contexts);
    }
    return EncodeTokens(tokens, out);
}

}  // namespace

uint64_t StoredBlockBytes(uint32_t size) {
    return format::kBlockHeaderBytes + ((uint64_t{size} + 15) & ~uint64_t{15});
}

bool CompressionIsWorthwhile(uint64_t compressedBytes, uint64_t storedBytes) {
    // A stored block decodes at the speed of a copy; a compressed one that saves little is
    // nearly all literals, which decode several times slower than inflate does. A few percent
    // of space is not worth that, so the compressed block must save a sixteenth.
    return compressedBytes <= storedBytes - storedBytes / kWorthwhileSavingDivisor;
}

Status EncodeCompressedBlock(const uint8_t* data, uint32_t size, const EncoderOptions& options,
                             EncoderState& state, std::vector<uint8_t>& out) {
    size_t start = out.size();
    Status status = EncodeCompressed(data, size, options, state, out);
    if (status != Status::Ok) return status;
    // Nearly 8 MiB of incompressible data codes to a body larger than the reader's 8 MiB
    // buffer: such a block could be written but never read back.
    if (out.size() - start - format::kBlockHeaderBytes > kBlockBufferSize) {
        out.resize(start);
        return Status::InvalidArgument;
    }
    return Status::Ok;
}

Status EncodeBestBlock(const uint8_t* data, uint32_t size, const EncoderOptions& options,
                       EncoderState& state, std::vector<uint8_t>& out) {
    std::vector<uint8_t>& compressed = state.trial;
    compressed.clear();
    Status status = EncodeCompressed(data, size, options, state, compressed);
    if (status == Status::Ok &&
        CompressionIsWorthwhile(compressed.size(), StoredBlockBytes(size))) {
        out.insert(out.end(), compressed.begin(), compressed.end());
        return Status::Ok;
    }
    // Data too long for one compressed stream is stored too.
    if (size > kBlockBufferSize) return Status::InvalidArgument;
    return EncodeStoredBlock(data, size, out);
}

}  // namespace encoder
