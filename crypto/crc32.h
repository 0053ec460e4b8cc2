// CRC-32 in its standard reflected form (polynomial 0xEDB88320, preset 0xFFFFFFFF, final
// complement): the checksum of every entry and of an enciphered name table.
#pragma once

#include <cstdint>

struct Crc32 {
    uint32_t table[256];
    uint32_t reg;

    Crc32();  // builds the table; reg = 0xFFFFFFFF
    // Feeds the bytes and returns the CRC-32 of everything fed so far (the complemented register).
    uint32_t Update(const void* data, uint32_t length);
    uint32_t Value() const { return ~reg; }
};

// Bit k of the low n bits of value becomes bit n-1-k; n <= 0 gives 0.
uint32_t ReflectBits(uint32_t value, int n);
