// The LZ block's parse: which literals and matches describe a segment at the least price, found by
// a shortest-path search over the segment's positions in windows, with the four recent distances
// carried along each path. Prices are in sixteenths of a bit and come from symbol counts.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/lz_match_finder.h"
#include "format/lz_block.h"
#include "format/solid.h"

namespace encoder {

constexpr uint32_t kLzLiteralToken = 5;

struct LzToken {
    uint32_t kind;      // 0-3: a recent distance, 4: a new distance, kLzLiteralToken: a literal
    uint32_t length;    // 1 for a literal
    uint32_t distance;  // the match's distance (also for recent ones)
};

// Symbol counts of the three codes; the distance code has room for a type-3 block's slots.
struct LzCounts {
    uint32_t main[format::kLzMainSymbols] = {};
    uint32_t length[format::kLzLengthSymbols] = {};
    uint32_t distance[format::kLzHistoryDistanceSymbols] = {};
};

struct LzPrices {
    uint32_t main[format::kLzMainSymbols];
    uint32_t length[format::kLzLengthSymbols];
    uint32_t distance[format::kLzHistoryDistanceSymbols];
};

// The main symbol of a match.
inline uint32_t LzMatchSymbol(uint32_t kind, uint32_t length) {
    uint32_t code = length - format::kLzMinMatch;
    if (code > format::kLzLengthCodes - 1) code = format::kLzLengthCodes - 1;
    return format::kLzLiterals + kind * format::kLzLengthCodes + code;
}

void CountToken(const LzToken& token, const uint8_t* literal, LzCounts* counts);
// Prices for counts over a distance code of distanceSymbols; with no counts at all, a guess.
void PricesFromCounts(const LzCounts& counts, LzPrices* prices,
                      uint32_t distanceSymbols = format::kLzDistanceSymbols);

struct LzParseSettings {
    uint32_t niceLength = 128;  // a match this long is taken at once
    uint32_t window = 4096;     // positions searched together
};

// Matches of each position of a segment, found once and priced by every pass over it. A parse
// may start past first, where the tokens before it ended.
struct LzSegmentMatches {
    uint32_t first = 0;           // the position start[0] belongs to
    std::vector<uint32_t> start;  // per position: index of its first match; one more at the end
    std::vector<LzMatch> matches;
};

// Finds the matches of data[begin .. end) in a block of size bytes (the finder holds the block's
// earlier positions). A position inside a match of niceLength or more gets none and is not
// inserted.
void FindSegmentMatches(LzMatchFinder* finder, const uint8_t* data, uint32_t size, uint32_t begin,
                        uint32_t end, uint32_t niceLength, LzSegmentMatches* found);

// The cheapest tokens for data[begin .. end) of a block of size bytes under prices, appended to
// tokens; found holds the matches from found.first <= begin to end; a long match may run on past
// end. Returns where the tokens end. recent holds the four recent distances on entry and is updated
// to those after the tokens.
uint32_t ParseSegment(const uint8_t* data, uint32_t size, uint32_t begin, uint32_t end,
                      const LzSegmentMatches& found, const LzPrices& prices,
                      const LzParseSettings& settings, uint32_t* recent,
                      std::vector<LzToken>* tokens);

// The four recent distances after a match token.
void UpdateRecent(const LzToken& token, uint32_t* recent);

}  // namespace encoder
