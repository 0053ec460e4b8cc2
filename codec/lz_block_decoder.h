// The LZ block decoder (block type 2): matches carry a distance anywhere back into the block or
// reuse one of the four most recent distances; literals, lengths and distances are coded with
// canonical Huffman codes that each segment (a run of tokens) of the block sends as code lengths.
// The x86 branch filter, when the block says so, is undone over the whole block at its end.
#pragma once

#include <cstdint>

#include "format/lz_block.h"
#include "format/solid.h"
#include "format/status.h"

namespace codec {

// Lookup tables of one segment's codes: an entry is symbol << 4 | code length, indexed by the
// next maxLength stream bits; length 0 marks bits that start no code.
struct LzDecodeTables {
    uint16_t main[1u << format::kLzMaxCodeLength];
    uint16_t length[1u << format::kLzMaxCodeLength];
    uint16_t distance[1u << format::kLzMaxCodeLength];
    uint16_t precode[1u << format::kLzMaxPrecodeLength];
    uint8_t lengths[format::kLzHistoryAllLengths];
};

// Decodes one deciphered, padded body of bodyBytes bytes whose stream is streamBits long (the
// block header's length, at most bodyBytes * 8) into out[0 .. outCapacity). The body must be
// readable for BODY_READ_SLACK bytes past bodyBytes. Never writes outside out[0 .. outCapacity):
// match copies may write up to 8 bytes past the last byte produced, inside outCapacity. Corrupt
// for every violation: a distance before the block's start, a length past the block's end,
// code lengths that build no usable code, reserved flags, a stream that ends anywhere but at
// streamBits, more output than outCapacity. On Ok, *produced is the block's size.
format::Status DecodeLzBlock(const uint8_t* body, uint32_t bodyBytes, uint32_t streamBits,
                             LzDecodeTables* tables, uint8_t* out, uint32_t outCapacity,
                             uint32_t* produced);

// The decoded bytes of a solid group so far (format/solid.h): bytes[0 .. filled) of capacity, at
// most the window. A type-3 block decodes behind them and its matches reach back as far as
// bytes[0]; filled then grows by the block's size.
struct LzHistory {
    uint8_t* bytes;
    uint32_t capacity;
    uint32_t filled;
};

// Decodes a type-3 block as DecodeLzBlock decodes a type-2 block, into history->bytes[filled ..),
// at most room bytes; Corrupt as there, and also for a match that reaches before bytes[0] or
// output beyond capacity. *output receives where the block's bytes are: in the history, or in
// staging (8 MiB) when the x86 filter is undone, since the history keeps the filtered bytes.
format::Status DecodeLzHistoryBlock(const uint8_t* body, uint32_t bodyBytes, uint32_t streamBits,
                                    LzDecodeTables* tables, LzHistory* history, uint32_t room,
                                    uint8_t* staging, const uint8_t** output, uint32_t* produced);

// Builds the lookup table of lengths[0 .. count) into table (1 << maxLength entries at most).
// False for lengths that build no usable code: an over-full or incomplete set, except a single
// code of length 1 (its other bit value decodes to nothing). All zeros give an empty table,
// from which every decode fails. *tableBits receives the bits the table is indexed by.
bool BuildLzLookup(const uint8_t* lengths, uint32_t count, uint32_t maxLength, uint16_t* table,
                   uint32_t* tableBits);

}  // namespace codec
