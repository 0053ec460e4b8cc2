// Code tables for compressed blocks. The decoder grows each code tree by inserting a block's table
// entries one by one down the lighter side, so the writer cannot send code lengths directly: it
// chooses the order and the weights of the entries, grows the decoder's own tree from them to
// learn the codes that result, and keeps the choice that costs the fewest bits.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "format/block.h"

namespace encoder {

// Longest code the decoder reads exactly.
constexpr unsigned kMaxCodeLength = format::kMaxCodeLength;

struct TableEntry {
    uint32_t symbol;
    uint32_t weight;  // at least 1
};

struct CodeTable {
    std::vector<TableEntry> entries;  // in the order they are written and inserted
    std::vector<uint32_t> codes;   // per symbol: code bits, the first step from the root in bit 0
    std::vector<uint8_t> lengths;  // per symbol: code length, 0 for symbols not in the table
    unsigned maxLength = 0;
};

// Grows the decoder's tree from entries (zero weights skipped) and fills codes, lengths and
// maxLength for an alphabet of alphabetSize symbols. A tree the decoder would refuse to grow gets
// a maxLength beyond any code the decoder reads.
void AssignCodes(const std::vector<TableEntry>& entries, uint32_t alphabetSize, CodeTable& table);

// Chooses entries for the symbols with a nonzero count (counts indexed by symbol) so that table
// bits plus coded bits are small and no code exceeds kMaxCodeLength. symbolBits gives the bits a
// symbol field costs in the table. No used symbol: an empty table.
CodeTable BuildCodeTable(const std::vector<uint64_t>& counts,
                         const std::function<unsigned(uint32_t)>& symbolBits);

// The unlimited optimal prefix code of counts: the used symbols, each one's depth, and the used
// symbols' indices from most to least frequent. A table tries several limits on the same counts,
// so the code is built once and clipped for each.
struct PrefixCodeDepths {
    uint32_t alphabetSize = 0;
    std::vector<uint32_t> used;
    std::vector<unsigned> depth;  // indexed like used
    std::vector<uint32_t> order;
};
PrefixCodeDepths OptimalCodeDepths(const std::vector<uint64_t>& counts);

// Code lengths of an optimal prefix code for counts (entries with count 0 get length 0), none above
// limit. Exposed for tests.
std::vector<uint8_t> LimitedCodeLengths(const PrefixCodeDepths& code, unsigned limit);
std::vector<uint8_t> LimitedCodeLengths(const std::vector<uint64_t>& counts, unsigned limit);

}  // namespace encoder
