// The LZ block (block type 2) as reader and writer both see it: the archive mark that allows it,
// the alphabets of its three codes, the slot code of lengths and distances, the canonical code
// rule and the x86 branch filter. docs/format.md describes the bytes; this is their one definition.
#pragma once

#include <cstdint>

#include "format/byte_order.h"

namespace format {

// The header's reserved word (offset 20) with this bit set says that the archive may hold LZ
// blocks. Without it a type-2 block is corrupt, as it always was.
constexpr uint32_t kMarkLzBlocks = 1;

inline bool ArchiveAllowsLzBlocks(uint32_t reservedWord) {
    return (reservedWord & kMarkLzBlocks) != 0;
}

// Block header fields (output bytes, flags), then per segment: its token count and the precode's
// lengths.
constexpr uint32_t kLzSizeBits = 24;
constexpr uint32_t kLzFlagBits = 8;  // bit 0: x86 filter; bit 1: its x86-64 operands too
constexpr uint32_t kLzFilterX86 = 1;
// Only a type-3 block may set it, and only with kLzFilterX86: earlier readers refuse it.
constexpr uint32_t kLzFilterX64 = 2;
constexpr uint32_t kLzPrecodeSymbols = 19;
constexpr uint32_t kLzPrecodeLengthBits = 3;
constexpr uint32_t kLzMaxPrecodeLength = 7;
constexpr uint32_t kLzMaxCodeLength = 15;

// Precode symbols 0-15 are code lengths; these three repeat, as kLzRunShapes says how often.
enum LzPrecodeRun : uint32_t {
    kLzRepeatPrevious = 16,  // the previous length again
    kLzShortZeros = 17,      // zero lengths
    kLzLongZeros = 18,       // more zero lengths
};

// A run symbol's shortest run and the extra bits that add to it; all ones in them is its longest.
struct LzRunShape {
    uint32_t shortest;
    uint32_t extraBits;
    constexpr uint32_t Longest() const { return shortest + (1u << extraBits) - 1; }
};
constexpr LzRunShape kLzRunShapes[] = {
    {3, 2},   // kLzRepeatPrevious: 3-6 times
    {3, 3},   // kLzShortZeros: 3-10
    {11, 7},  // kLzLongZeros: 11-138
};
static_assert(kLzRunShapes[2].shortest == kLzRunShapes[1].Longest() + 1,
              "a zero run too short for the long symbol fits the short one");

// symbol is one of the three run symbols.
constexpr const LzRunShape& LzRunShapeOf(uint32_t symbol) {
    return kLzRunShapes[symbol - kLzRepeatPrevious];
}

// Main code: 256 literals, then match symbols 256 + 16 * kind + lengthCode. Kinds 0-3 reuse the
// 0th-3rd most recent distance, kind 4 reads a new distance. Length codes 0-14 are lengths 2-16;
// code 15 reads the length code for the length minus 17.
constexpr uint32_t kLzLiterals = 256;
constexpr uint32_t kLzRepeatKinds = 4;
constexpr uint32_t kLzKindNewDistance = 4;
constexpr uint32_t kLzLengthCodes = 16;
constexpr uint32_t kLzMinMatch = 2;
constexpr uint32_t kLzLongLength = kLzMinMatch + kLzLengthCodes - 1;                      // 17
constexpr uint32_t kLzMainSymbols = kLzLiterals + (kLzRepeatKinds + 1) * kLzLengthCodes;  // 336
// Slot codes of a value below 2^23: enough for any length or distance inside 8 MiB.
constexpr uint32_t kLzSlotSymbols = 46;
constexpr uint32_t kLzLengthSymbols = kLzSlotSymbols;
constexpr uint32_t kLzDistanceSymbols = kLzSlotSymbols;
constexpr uint32_t kLzAllLengths = kLzMainSymbols + kLzLengthSymbols + kLzDistanceSymbols;
// At the block's start the four recent distances are 1, 2, 3 and 4.
constexpr uint32_t kLzInitialDistances[kLzRepeatKinds] = {1, 2, 3, 4};

// Slot code: values 0-3 are slots 0-3; a larger value v with top bit n has slot 2n + the bit below
// the top, followed by the n-1 bits below that.
inline uint32_t LzSlotExtraBits(uint32_t slot) {
    return slot < 4 ? 0 : (slot >> 1) - 1;
}
inline uint32_t LzSlotBase(uint32_t slot) {
    return slot < 4 ? slot : (2u | (slot & 1)) << ((slot >> 1) - 1);
}
inline uint32_t LzSlotOf(uint32_t value) {
    if (value < 4) return value;
    uint32_t n = 31u - static_cast<uint32_t>(__builtin_clz(value));
    return 2 * n + ((value >> (n - 1)) & 1);
}

// Canonical codes: shorter codes first, equal lengths in symbol order, the first code all zeros;
// a code's first bit in the stream is its most significant. Fills codes[] with each code already
// bit-reversed, so that it goes out least significant bit first. lengths must satisfy Kraft.
inline void LzCanonicalCodes(const uint8_t* lengths, uint32_t count, uint32_t* codes) {
    uint32_t perLength[kLzMaxCodeLength + 1] = {};
    for (uint32_t s = 0; s < count; ++s) ++perLength[lengths[s]];
    perLength[0] = 0;
    uint32_t next[kLzMaxCodeLength + 2] = {};
    for (uint32_t len = 1; len <= kLzMaxCodeLength; ++len) {
        next[len + 1] = (next[len] + perLength[len]) << 1;
    }
    for (uint32_t s = 0; s < count; ++s) {
        uint32_t len = lengths[s];
        uint32_t code = len == 0 ? 0 : next[len]++;
        uint32_t reversed = 0;
        for (uint32_t b = 0; b < len; ++b) reversed |= ((code >> b) & 1) << (len - 1 - b);
        codes[s] = reversed;
    }
}

// The x86 branch filter: the 32-bit operand after an E8 (call) or E9 (jump) byte, when it lies in
// [-2^24, 2^24), is replaced by the target it names relative to the block's start, wrapped into
// that same range. Repeated calls of one function then carry equal operands. The scan skips the
// operand of every E8 or E9 byte, changed or not, so no change reaches bytes another decision
// reads; and both directions keep the range, so they stop at the same bytes.
inline uint32_t LzWrapBranch(uint32_t value) {
    return ((value + 0x01000000u) & 0x01FFFFFFu) - 0x01000000u;
}
inline bool LzBranchInRange(uint32_t value) {
    return ((value + 0x01000000u) & 0xFE000000u) == 0;
}

// The filter's rule for one position, which LzFilterX86 applies with tables: where the 32-bit
// operand of an instruction starting at data[i] lies, counted from i, or 0 when the filter changes
// nothing there, when the block's flags hold kLzFilterX64: E8 and E9; FF 15 and FF 25 (calls and
// jumps through a pointer, RIP-relative in x86-64 code); and a REX prefix before 89, 8B or 8D
// whose ModRM byte names a RIP-relative operand (mov and lea of the program's data). These are the
// references that repeat once absolute; wider sets of opcodes measured no better. The operand must
// end within size.
inline uint32_t LzFilterOperandAt(const uint8_t* data, uint32_t i, uint32_t size) {
    const uint32_t left = size - i;
    const uint8_t op = data[i];
    if ((op & 0xFE) == 0xE8) return left >= 5 ? 1 : 0;
    if (op == 0xFF) return left >= 6 && (data[i + 1] == 0x15 || data[i + 1] == 0x25) ? 2 : 0;
    if ((op & 0xF0) != 0x40 || left < 7) return 0;
    const uint8_t move = data[i + 1];
    const bool movesData = move == 0x89 || move == 0x8B || move == 0x8D;
    return movesData && (data[i + 2] & 0xC7) == 0x05 ? 3 : 0;
}

// What each byte value can be in the rule, so that the scan tests a position with three table
// entries and no branch per byte: bits 0-2 its kind as the first byte (1 E8 or E9, 2 FF, 4 a REX
// prefix), bits 3-5 what it allows as the second (1 always, 2 for 15 or 25, 4 for 89, 8B or 8D),
// bits 6-8 as the third (7 when it names a RIP-relative operand, 3 otherwise). ANDed, they leave 1,
// 2 or 4 where LzFilterOperandAt gives 1, 2 or 3.
constexpr struct LzFilterClasses {
    uint16_t of[256];
} kLzFilterClasses = [] {
    LzFilterClasses c{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t first = (b & 0xFE) == 0xE8 ? 1 : b == 0xFF ? 2 : (b & 0xF0) == 0x40 ? 4 : 0;
        uint32_t second =
            1 | (b == 0x15 || b == 0x25 ? 2 : 0) | (b == 0x89 || b == 0x8B || b == 0x8D ? 4 : 0);
        uint32_t third = (b & 0xC7) == 0x05 ? 7 : 3;
        c.of[b] = static_cast<uint16_t>(first | second << 3 | third << 6);
    }
    return c;
}();

// Applies the operand found at data[i + at] (at from 1 to 3) and returns where the scan goes on.
inline uint32_t LzFilterOperand(uint8_t* data, uint32_t i, uint32_t at, bool toTarget) {
    uint32_t operand = LoadLE32(data + i + at);
    uint32_t next = i + at + 4;
    if (LzBranchInRange(operand)) {
        StoreLE32(data + i + at, LzWrapBranch(toTarget ? operand + next : operand - next));
    }
    return next;
}

// toTarget: the writer's direction (offset to target); otherwise the reader's. x64: the block's
// flags hold kLzFilterX64. While seven bytes are left, each position's classes come from the
// table as the scan slides over them; the last six positions follow LzFilterOperandAt.
inline void LzFilterX86(uint8_t* data, uint32_t size, bool toTarget, bool x64 = false) {
    uint32_t i = 0;
    if (!x64) {
        // E8 and E9 alone: one test per byte is faster than the tables.
        while (size >= 5 && i <= size - 5) {
            i = (data[i] & 0xFE) != 0xE8 ? i + 1 : LzFilterOperand(data, i, 1, toTarget);
        }
        return;
    }
    const uint16_t* classes = kLzFilterClasses.of;
    while (size >= 7 && i <= size - 7) {
        uint32_t first = classes[data[i]], second = classes[data[i + 1]], hit = 0;
        for (; i <= size - 7; ++i) {
            const uint32_t third = classes[data[i + 2]];
            hit = first & (second >> 3) & (third >> 6);
            if (hit != 0) break;
            first = second;
            second = third;
        }
        if (hit == 0) break;
        i = LzFilterOperand(data, i, hit - (hit >> 2), toTarget);  // 1, 2 or 4 -> 1, 2 or 3
    }
    while (i < size) {
        const uint32_t at = LzFilterOperandAt(data, i, size);
        i = at == 0 ? i + 1 : LzFilterOperand(data, i, at, toTarget);
    }
}

}  // namespace format
