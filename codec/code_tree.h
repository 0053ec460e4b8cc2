// Code trees: every compressed block carries weight tables from which the decoder grows one binary
// tree per table, sending each symbol down the lighter side of the tree built so far. A symbol's
// code is its path from the root (stream bit 0 = left). The exact insertion rules are part of the
// stream format: a stream decodes only with exactly these trees. Decoding goes through a table
// indexed by the next stream bits, built from the tree, with a walk for the long codes.
#pragma once

#include <cstdint>

#include "codec/bit_reader.h"
#include "format/block.h"
#include "format/status.h"

namespace codec {

// Written into a leaf when a split turns it into an internal node; never returned by a decode.
constexpr uint32_t INTERNAL_NODE_SYMBOL = 100000;

// Reaching a code longer than MAX_CODE_LENGTH is treated as corrupt data: it cannot be read
// exactly by the 32-bit field reader the format was built on, and needs a table total beyond what
// the symbol counts of a block's at most 2^24 tokens can reach.
constexpr uint32_t MAX_CODE_LENGTH = format::kMaxCodeLength;
// A tree deeper than this can only come from weight sums that wrapped around; building one is
// refused, which also bounds the cost of building a hostile table.
constexpr uint32_t MAX_TREE_DEPTH = 64;
// Bits resolved by one probe of the decode table, the most any tree's table has; longer codes
// continue by walking the tree.
constexpr uint32_t DECODE_TABLE_BITS = 10;
// A table for the trees of at most 16 symbols, flags and selectors: building a full-width table
// for them in every block cost more than the walks a shorter one needs for their rare long codes.
constexpr uint32_t SMALL_TABLE_BITS = 8;

struct SymbolWeight {
    uint32_t weight;
    uint32_t symbol;
};

struct SymbolTable {
    SymbolWeight* entries;
    int32_t count;
    void* allocation;  // what malloc gave; entries is it rounded up to 32 bytes

    // Entry i gets weight 0 and symbol i. False when memory is short (the table stays empty).
    bool Create(int32_t n);
    // As Create, in storage of capacity entries (the caller's, and Release leaves it) when n fits.
    bool CreateIn(SymbolWeight* storage, int32_t capacity, int32_t n);
    void Release();
};

struct CodeTreeNode {
    int32_t left;  // index of the 0 branch in the tree's node array, -1 for none
    uint32_t leftWeight;
    int32_t right;  // the 1 branch
    uint32_t rightWeight;
    uint32_t symbol;
    uint32_t weight;  // a leaf's own weight; 0 once the node is internal

    bool IsLeaf() const { return left < 0 && right < 0; }
};

// One probe of the decode table is a 32-bit entry: bits 0-4 the code length, bits 5-6 the kind,
// bits 8-31 the symbol (CODE_LEAF) or the node to walk on from (CODE_WALK; bits 0-4 then hold
// that node's depth). Leaves whose symbol does not fit 24 bits are reached by a walk too.
typedef uint32_t CodeDecodeEntry;

enum CodeDecodeKind : uint32_t { CODE_LEAF = 0, CODE_WALK = 1, CODE_MISSING = 2 };

constexpr uint32_t CODE_ENTRY_LENGTH_MASK = 31;
constexpr uint32_t CODE_ENTRY_KIND_MASK = 3u << 5;
constexpr uint32_t CODE_ENTRY_VALUE_SHIFT = 8;
constexpr uint32_t CODE_ENTRY_MAX_VALUE = (1u << 24) - 1;

// Nodes live in one array sized for the table (a tree of n symbols has at most 2n - 1 nodes); node
// 0 is the root. Zero-initialise before Build. Memory may be lent (Lend): a block decoder keeps its
// trees' nodes and tables from block to block, since for a small block allocating and releasing
// them costs about as much as decoding it.
struct CodeTree {
    CodeTreeNode* nodes;
    int32_t nodeCount;
    int32_t nodeCapacity;
    uint32_t maxDepth;  // depth of the deepest leaf
    CodeDecodeEntry* table;
    uint32_t tableBits;
    CodeTreeNode* lentNodes;  // used when the tree needs at most lentCapacity nodes
    int32_t lentCapacity;
    CodeDecodeEntry* lentTable;  // 1 << DECODE_TABLE_BITS entries, or null

    // Lends memory that Grow and Build use where it suffices and Destroy leaves to its owner.
    void Lend(CodeTreeNode* storage, int32_t capacity, CodeDecodeEntry* decodeTable);

    // Grows the tree, then builds the decode table of tableBits (at most DECODE_TABLE_BITS).
    // Corrupt when the tree would grow deeper than MAX_TREE_DEPTH.
    format::Status Build(const SymbolTable& symbols, uint32_t tableBits = DECODE_TABLE_BITS);
    // Inserts the table's entries of nonzero weight in index order: the tree alone, as the writer
    // replays it to learn the codes a table gives. Corrupt as for Build.
    format::Status Grow(const SymbolTable& symbols);
    // Sends (symbol, weight) down from the root; false when the path passes MAX_TREE_DEPTH.
    bool Insert(uint32_t symbol, uint32_t weight);
    void Destroy();
};

// Finishes a decode whose table probe gave a walk or a dead end. bits are the stream bits from
// the code's first bit on (at least MAX_CODE_LENGTH of them). False for a missing branch or a
// code longer than MAX_CODE_LENGTH.
bool WalkLongCode(const CodeTree& tree, CodeDecodeEntry entry, uint64_t bits, uint32_t* symbol,
                  uint32_t* length);

// Decodes the next symbol at bitPos and advances bitPos by its code length. An empty tree gives
// symbol 0 and consumes nothing. False (corrupt data) for a missing branch at the root of a
// one-symbol tree or a code longer than MAX_CODE_LENGTH. Reads 8 bytes from byte bitPos / 8.
inline bool DecodeSymbol(const CodeTree& tree, const uint8_t* base, uint32_t* bitPos,
                         uint32_t* symbol) {
    uint64_t bits = PeekBits(base, *bitPos);
    CodeDecodeEntry entry = tree.table[bits & ((1u << tree.tableBits) - 1u)];
    uint32_t length;
    if ((entry & CODE_ENTRY_KIND_MASK) == 0) {
        *symbol = entry >> CODE_ENTRY_VALUE_SHIFT;
        length = entry & CODE_ENTRY_LENGTH_MASK;
    } else if (!WalkLongCode(tree, entry, bits, symbol, &length)) {
        return false;
    }
    *bitPos += length;
    return true;
}

}  // namespace codec
