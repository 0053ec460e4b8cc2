// Entry data is a run of blocks, each a 4-byte header and a body padded to 16 bytes. This is the
// framing both the codec and the writer use, with the limits that bound a block.
#pragma once

#include <cstdint>

#include "format/byte_order.h"

namespace format {

// Size of a reader's read buffer and of a file extraction's staging area; bounds a block's body
// and a block's output, and so the input a writer puts into one block.
constexpr uint32_t kBlockBufferSize = 0x800000;

constexpr uint32_t kBlockHeaderBytes = 4;
// kBlockLz and kBlockLzHistory are valid only in archives whose header allows them
// (format/lz_block.h, format/solid.h); the other types are invalid everywhere.
enum BlockType : uint32_t {
    kBlockStored = 0,
    kBlockCompressed = 1,
    kBlockLz = 2,
    kBlockLzHistory = 3,
};
// The header keeps the length in the 29 bits above the 3-bit type.
constexpr uint32_t kMaxBlockLength = (1u << 29) - 1;

// The longest code a compressed block may use: each level down the lighter side of a code tree
// at least halves the weight below, so a longer code needs more tokens than a block can hold.
constexpr uint32_t kMaxCodeLength = 25;

// The widths of the fields of a growing-width integer, the code of table weights and of
// match-length symbols: an all-ones field escapes to the next width, and the value is the sum of
// the escaped fields plus the last field plus 1.
constexpr uint32_t kGrowingIntWidths[] = {2, 3, 5, 8, 12, 17, 23, 30};

inline uint32_t BitsToBytes(uint32_t bits) {
    return (bits >> 3) + ((bits & 7) != 0 ? 1u : 0u);
}

// Unsigned 32-bit arithmetic throughout: values within 15 of 2^32 wrap to 0.
inline uint32_t RoundUp16(uint32_t bytes) {
    return (bytes + 15u) & ~15u;
}

struct BlockHeader {
    uint32_t type;    // one of BlockType, or an invalid 4 to 7
    uint32_t length;  // data bytes of a stored block, bits of a compressed block's stream
};

inline BlockHeader DecodeBlockHeader(const uint8_t* bytes) {
    uint32_t word = LoadLE32(bytes);
    return BlockHeader{word & 7, word >> 3};
}

inline void EncodeBlockHeader(const BlockHeader& header, uint8_t* out) {
    StoreLE32(out, (header.length << 3) | header.type);
}

// A compressed block's body opens with this 64-bit head: the token count and the shape of the four
// weight tables that follow it (flags, literals, lengths, selectors, in that order).
constexpr uint32_t kCompressedHeadBits = 64;
struct CompressedHead {
    uint32_t tokenCount;       // 24 bits
    uint32_t literalEntries;   // 1 to 256
    uint32_t lengthEntries;    // 0 to 65535
    uint32_t flagEntries;      // 1 to 16
    uint32_t literalWidth;     // bits of a literal table symbol, 0 to 15
    uint32_t selectorEntries;  // 1 to 16
};

// Fields low bit first: tokens 24 bits, literal entries - 1 in 8, length entries in 16, flag
// entries - 1 in 4, literal width in 4, selector entries - 1 in 4, and 4 bits that are not read.
inline CompressedHead DecodeCompressedHead(const uint8_t* body) {
    const uint64_t word = LoadLE64(body);
    auto field = [word](unsigned at, unsigned bits) {
        return static_cast<uint32_t>(word >> at) & ((1u << bits) - 1);
    };
    return CompressedHead{field(0, 24),     field(24, 8) + 1, field(32, 16),
                          field(48, 4) + 1, field(52, 4),     field(56, 4) + 1};
}

// The head's two 32-bit words, low first, as a bit stream writes them; each field is cut to its
// width, so fields must be in range.
inline void EncodeCompressedHead(const CompressedHead& head, uint32_t words[2]) {
    words[0] = (head.tokenCount & 0xFFFFFF) | (head.literalEntries - 1) << 24;
    words[1] = (head.lengthEntries & 0xFFFF) | ((head.flagEntries - 1) & 15) << 16 |
               (head.literalWidth & 15) << 20 | ((head.selectorEntries - 1) & 15) << 24;
}

// The bytes the body of a valid block's header occupies: the length of a compressed or LZ block
// counts bits.
inline uint32_t BodyBytes(const BlockHeader& header) {
    return header.type == kBlockStored ? RoundUp16(header.length)
                                       : RoundUp16(BitsToBytes(header.length));
}

}  // namespace format
