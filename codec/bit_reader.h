// Bit-field reading for compressed block bodies: fields are taken least significant bit first from
// a byte buffer addressed by a bit position, plus the growing-width integer code that carries table
// weights and match lengths, and the two size functions that turn a block header's length into the
// bytes its body occupies. Everything here is stateless; callers own and advance the bit position.
#pragma once

#include <cstdint>
#include <cstring>

namespace codec {

inline uint32_t LoadLittle32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

inline uint64_t LoadLittle64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// The n-bit field at bitPos (n taken modulo 32). Loads the four bytes from bitPos / 8, so it is
// exact for n up to 25 at any position; wider fields lose their top bits past the loaded word.
inline uint32_t ReadBits(const uint8_t* base, uint32_t bitPos, uint32_t n) {
    uint32_t word = LoadLittle32(base + (bitPos >> 3)) >> (bitPos & 7);
    uint32_t width = n & 31;
    return word & ((1u << width) - 1u);
}

// At least 57 stream bits from bitPos, the first in bit 0. Loads the eight bytes from bitPos / 8.
inline uint64_t PeekBits(const uint8_t* base, uint32_t bitPos) {
    return LoadLittle64(base + (bitPos >> 3)) >> (bitPos & 7);
}

// Field widths 2, 3, 5, 8, 12, 17, 23, 30; an all-ones field escapes to the next width.
constexpr uint32_t GROWING_INT_LAST_WIDTH = 30;
// The largest value the first seven fields reach; larger values need the 30-bit field.
constexpr uint32_t GROWING_INT_SEVEN_FIELD_MAX = 8524069;

// Decodes one growing-width integer (at least 1) and advances bitPos past it. Returns 0, which is
// never a value, when the 30-bit field escapes as well: no width follows it, so the data is
// corrupt. The 30-bit field is read exactly. Reads up to 8 bytes from the last field's byte.
inline uint32_t ReadGrowingInt(const uint8_t* base, uint32_t* bitPos) {
    uint32_t width = 2;
    uint32_t step = 1;
    uint32_t sum = 0;
    for (;;) {
        uint32_t allOnes = (1u << width) - 1u;
        uint32_t field = static_cast<uint32_t>(PeekBits(base, *bitPos)) & allOnes;
        *bitPos += width;
        if (field != allOnes) return sum + field + 1;
        if (width == GROWING_INT_LAST_WIDTH) return 0;
        sum += field;
        width += step;
        step += 1;
    }
}

inline uint32_t BitsToBytes(uint32_t bits) {
    return (bits >> 3) + ((bits & 7) != 0 ? 1u : 0u);
}

// Unsigned 32-bit arithmetic throughout: values within 15 of 2^32 wrap to 0.
inline uint32_t RoundUp16(uint32_t bytes) {
    return (bytes + 15u) & ~15u;
}

}  // namespace codec
