// CRC-32 in its standard reflected form (polynomial 0xEDB88320, preset 0xFFFFFFFF, final
// complement): the checksum of every entry and of an enciphered name table.
#pragma once

#include <cstddef>
#include <cstdint>

struct Crc32 {
    const uint32_t* table;  // the byte table, 256 entries computed at compile time
    uint32_t reg;

    Crc32();  // reg = 0xFFFFFFFF
    // Feeds the bytes and returns the CRC-32 of everything fed so far (the complemented register).
    uint32_t Update(const void* data, uint32_t length);
    uint32_t Value() const { return ~reg; }
};

// Bit k of the low n bits of value becomes bit n-1-k; n <= 0 gives 0.
uint32_t ReflectBits(uint32_t value, int n);

// The kernels behind Crc32::Update. Each takes and returns the raw register (not complemented)
// and gives exactly what the one-table byte loop gives; Update picks the fastest one the CPU runs.
uint32_t Crc32UpdateBytes(const uint32_t table[256], uint32_t reg, const unsigned char* data,
                          size_t length);
uint32_t Crc32UpdateSliced(uint32_t reg, const unsigned char* data, size_t length);
// Carry-less multiplication (PCLMULQDQ) folding; call only when Crc32HasCarrylessMultiply().
bool Crc32HasCarrylessMultiply();
uint32_t Crc32UpdateFolded(uint32_t reg, const unsigned char* data, size_t length);
// The same folding two lanes per instruction (VPCLMULQDQ on 256-bit registers); call only when
// Crc32HasWideCarrylessMultiply(). Builds without it (Windows, 32-bit) answer false.
bool Crc32HasWideCarrylessMultiply();
uint32_t Crc32UpdateFoldedWide(uint32_t reg, const unsigned char* data, size_t length);
