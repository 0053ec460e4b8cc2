// Test-side writer of compressed block bodies: a bit writer, the inverse of the growing-width
// integer, and a small block encoder that turns a token list into a body with frequency tables.
// The trees come from the codec's own CodeTree so the codes match the decoder's by construction;
// what is checked against the format is the decoder's behaviour on these bodies.
#pragma once

#include <cstdint>
#include <vector>

#include "codec/code_tree.h"

namespace codec_test {

class BitWriter {
  public:
    void Put(uint64_t value, uint32_t bits);
    void PutGrowingInt(uint32_t value);
    uint32_t bitCount() const { return static_cast<uint32_t>(bitCount_); }
    // The bytes written, padded with zeros to a multiple of 16 plus the decoder's read slack.
    std::vector<uint8_t> PaddedBody() const;
    // The body without the slack: what a block holds in an archive.
    std::vector<uint8_t> Body() const;

  private:
    std::vector<uint8_t> bytes_;
    uint64_t bitCount_ = 0;
};

struct Token {
    bool match;
    uint8_t literal;  // literals
    uint32_t length;  // matches
    uint32_t slot;    // matches: 0 to 3
};

inline Token Lit(uint8_t byte) {
    return Token{false, byte, 0, 0};
}
inline Token Match(uint32_t length, uint32_t slot) {
    return Token{true, 0, length, slot};
}

struct SymbolCount {
    uint32_t symbol;
    uint32_t weight;
};

struct BlockTables {
    std::vector<SymbolCount> flags;
    std::vector<SymbolCount> literals;
    std::vector<SymbolCount> lengths;
    std::vector<SymbolCount> selectors;
    uint32_t literalWidth = 8;
};

// Frequency tables in order of first appearance (a dummy entry where a table needs one).
BlockTables CountTokens(const std::vector<Token>& tokens, uint32_t literalWidth = 8);

// Writes header, tables and token codes. tokenCount overrides the header's count when >= 0.
BitWriter EncodeBlock(const std::vector<Token>& tokens, const BlockTables& tables,
                      int64_t tokenCount = -1);

// The code of symbol in tree as (bits in stream order from bit 0, length); length -1 if absent.
struct Code {
    uint32_t bits;
    int32_t length;
};
Code CodeOf(const codec::CodeTree& tree, uint32_t symbol);

// Builds a tree from (symbol, weight) pairs in order.
codec::CodeTree BuildTree(const std::vector<SymbolCount>& entries,
                          uint32_t tableBits = codec::DECODE_TABLE_BITS);

// Tokens whose matches always select a filled slot, with output the encoder's model predicts.
std::vector<Token> RandomValidTokens(uint32_t seed, uint32_t count, uint32_t alphabet,
                                     std::vector<uint8_t>* expected);

// Symbol decoding as the format defines it: probe the tree with the next L bits for L = 0 .. 31
// and take the first lookup that succeeds. ok becomes false when none does.
uint32_t ProbeSymbol(const codec::CodeTree& tree, const uint8_t* base, uint32_t* bitPos, bool* ok);

// The decoding steps written out as plainly as possible, probing codes with CodeTree::Lookup at
// every length and keeping a full, separately marked context table: the model the fast decoder
// is compared with. Returns false for a corrupt block.
bool ReferenceDecode(const std::vector<uint8_t>& paddedBody, std::vector<uint8_t>* out,
                     uint32_t outCapacity);

}  // namespace codec_test
