// Parsing a block into tokens: literals and matches that name a slot of the context bucket. The
// parse replays the decoder's context table, so every match it returns is valid for the decoder.
#pragma once

#include <cstdint>
#include <vector>

namespace encoder {

class ContextModel;

// Longest match a token may carry; keeps the length table within its 65535 entries.
constexpr uint32_t kMaxMatchLength = 65535;

struct Token {
    uint32_t length;  // 0: a literal
    uint8_t value;    // literal byte, or the slot (0 to 3) a match copies from
};

// Both parsers replay the decoder's context table on model, which they empty first: a model is
// reused from block to block, as allocating one costs more than parsing a small block.

// Greedy: at every token the longest match of the bucket, when it is at least minLength long.
std::vector<Token> ParseGreedy(const uint8_t* data, uint32_t size, uint32_t minLength,
                               ContextModel& model);

// Bit prices of a token's codes, to weigh one parse against another.
struct TokenPrices {
    float literal[256];
    float flagLiteral;
    float flagMatch;
    float selector[4];
    std::vector<float> length;  // indexed by length, up to the longest the parse may meet
    float bytePrice;            // average bits per byte of the block, to weigh lengths

    // Prices from the token statistics of an earlier parse of the same block (of its first size
    // bytes). Lengths get prices up to longestLength, or the longest token's if longer: a parse
    // of a block of n bytes meets no match longer than n, and a small block then fills a small
    // table instead of one of 65536 prices.
    static TokenPrices FromTokens(const std::vector<Token>& tokens, uint32_t size,
                                  uint32_t longestLength = kMaxMatchLength);
};

constexpr uint32_t kMaxShorter = 3;

struct LookaheadOptions {
    uint32_t horizon = 4;  // bytes played past the longest match
    uint32_t shorter = 0;  // also try each match cut by 1 to this many bytes (kMaxShorter)
};

// Weighs each choice at a token (a literal, each slot's match) by playing greedy tokens up to a
// horizon past the longest match, on a scratch copy of the buckets they touch.
std::vector<Token> ParseLookahead(const uint8_t* data, uint32_t size, const TokenPrices& prices,
                                  const LookaheadOptions& options, ContextModel& model);

}  // namespace encoder
