// Bit-field reading for compressed block bodies: fields are taken least significant bit first from
// a byte buffer addressed by a bit position, plus the growing-width integer code that carries table
// weights and match lengths. Everything here is stateless; callers own and advance the bit
// position.
#pragma once

#include <cstdint>

#include "format/block.h"
#include "format/byte_order.h"

namespace codec {

// The n-bit field at bitPos (n taken modulo 32). Loads the four bytes from bitPos / 8, so it is
// exact for n up to 25 at any position; wider fields lose their top bits past the loaded word.
inline uint32_t ReadBits(const uint8_t* base, uint32_t bitPos, uint32_t n) {
    uint32_t word = format::LoadLE32(base + (bitPos >> 3)) >> (bitPos & 7);
    uint32_t width = n & 31;
    return word & ((1u << width) - 1u);
}

// At least 57 stream bits from bitPos, the first in bit 0. Loads the eight bytes from bitPos / 8.
inline uint64_t PeekBits(const uint8_t* base, uint32_t bitPos) {
    return format::LoadLE64(base + (bitPos >> 3)) >> (bitPos & 7);
}

// Decodes one growing-width integer (at least 1; see format::kGrowingIntWidths) and advances bitPos
// past it. Returns 0, which is never a value, when the last field escapes as well: no width follows
// it, so the data is corrupt. The 30-bit field is read exactly. Reads up to 8 bytes from the last
// field's byte.
inline uint32_t ReadGrowingInt(const uint8_t* base, uint32_t* bitPos) {
    uint32_t sum = 0;
    for (uint32_t width : format::kGrowingIntWidths) {
        uint32_t allOnes = (1u << width) - 1u;
        uint32_t field = static_cast<uint32_t>(PeekBits(base, *bitPos)) & allOnes;
        *bitPos += width;
        if (field != allOnes) return sum + field + 1;
        sum += field;
    }
    return 0;
}

}  // namespace codec
