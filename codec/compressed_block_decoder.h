// The compressed block decoder: a context-predicting LZ scheme without distances. For every output
// position the three bytes before it pick a bucket of the context table, which remembers up to
// four earlier positions that followed the same context; a match names only a length and one of
// those four slots. Flags, literals, lengths and slot selectors are coded with four code trees
// built from the tables at the head of each block. Blocks stand alone: nothing carries over.
#pragma once

#include <cstdint>

#include "codec/code_tree.h"
#include "codec/context_rules.h"
#include "format/status.h"

namespace codec {

// Each bucket has four slots, each a position and a stamp. Positions, not copies, so a match
// copies straight inside the output area. Position 0 marks an empty slot: positions are stored
// only from output offset 3 on.
//
// Every token stores a position, so the layout keeps that store cheap:
// - A bucket's first position always lands in slot 0 (all stamps are 0) and a filled slot is only
//   ever refilled, so "slot 0 holds a position" is the same as "the bucket has been written in
//   this block". The used bits record that; a block clears those 8 KiB instead of the table, and
//   a bucket is initialised when it is first written. Buckets whose bit is clear hold garbage.
//   The bits cover every index, so testing an order-3 index needs no range check first.
// - The slot the next position of a bucket goes to (smallest stamp, lowest number on a tie) rides
//   in the top bits of slot 0's position word; outputs stay far below 2^30 bytes. Storing a
//   position in that slot leaves it the choice, because the slot's stamp is 0, so only a match
//   moves it, and a literal stores its position touching nothing but the bucket's position row.
// - Positions and stamps are separate arrays: literals touch only the 16-byte position rows.
constexpr uint32_t NEXT_SLOT_SHIFT = 30;
constexpr uint32_t POSITION_MASK = (1u << NEXT_SLOT_SHIFT) - 1;

// A block's weight tables, trees and probe tables, where they fit: a block of a small entry then
// allocates nothing. Length tables longer than this are allocated.
constexpr int32_t LENT_LENGTH_ENTRIES = 512;

struct BlockCodeStorage {
    SymbolWeight flagSymbols[16];
    SymbolWeight selectorSymbols[16];
    SymbolWeight literalSymbols[256];
    SymbolWeight lengthSymbols[LENT_LENGTH_ENTRIES];
    CodeTreeNode flagNodes[2 * 16 + 1];
    CodeTreeNode selectorNodes[2 * 16 + 1];
    CodeTreeNode literalNodes[2 * 256 + 1];
    CodeTreeNode lengthNodes[2 * LENT_LENGTH_ENTRIES + 1];
    CodeDecodeEntry tables[4][1u << DECODE_TABLE_BITS];
};

struct ContextTable {
    uint64_t used[CONTEXT_BUCKETS / 64];
    uint32_t position[CONTEXT_FILLABLE_BUCKETS][CONTEXT_SLOTS];
    uint32_t stamp[CONTEXT_FILLABLE_BUCKETS][CONTEXT_SLOTS];
    BlockCodeStorage codes;

    bool IsUsed(uint32_t bucket) const { return (used[bucket >> 6] >> (bucket & 63)) & 1; }
};

// The body must be readable for BODY_READ_SLACK bytes past bodyBytes (their contents do not matter
// to a valid block): fields are loaded eight bytes at a time and bounds are checked per token.
constexpr uint32_t BODY_READ_SLACK = 32;

// Decodes one deciphered, padded body of bodyBytes bytes into out[0 .. outCapacity). On Ok,
// *produced is the number of bytes written. Every violation of the format's bounds (bit position
// past the padded body, output beyond outCapacity, a match with no candidate, a match before
// offset 3, a code longer than 25 bits, an escape beyond the 30-bit integer field) gives Corrupt;
// the output area may then hold part of the block. out is a scratch area: whole-word copies may
// write up to 15 bytes past the last byte produced, inside outCapacity. table is scratch space
// owned by the caller (one per decoding run, so runs on separate threads never share one).
// bitsUsed, when given, receives the bits of header, tables and tokens read by a successful decode.
format::Status DecodeCompressedBlock(const uint8_t* body, uint32_t bodyBytes, ContextTable* table,
                                     uint8_t* out, uint32_t outCapacity, uint32_t* produced,
                                     uint32_t* bitsUsed = nullptr);

}  // namespace codec
