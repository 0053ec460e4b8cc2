// Helpers for tests that read the writer's bytes back by hand: little-endian fields and an
// independent bitwise CRC-32, so that the writer's checksums are checked against a second
// implementation rather than against themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace packtest {

inline uint64_t GetLE(const std::vector<uint8_t>& bytes, size_t at, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes.at(at + i);
    return value;
}
inline uint16_t GetU16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(GetLE(b, at, 2));
}
inline uint32_t GetU32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(GetLE(b, at, 4));
}
inline uint64_t GetU64(const std::vector<uint8_t>& b, size_t at) {
    return GetLE(b, at, 8);
}

inline uint32_t BitwiseCrc32(const uint8_t* data, size_t size) {
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit) reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
    }
    return ~reg;
}
inline uint32_t BitwiseCrc32(const std::vector<uint8_t>& bytes) {
    return BitwiseCrc32(bytes.data(), bytes.size());
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t at, size_t count) {
    return std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + count);
}

// Deterministic filler that is not a repetition of a short pattern.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

// x86-64 code as a compiler lays it out: calls of a few functions, calls through a few import
// slots and RIP-relative loads of a few globals, between one-byte instructions. These are the
// operands the x86 filter of a solid group rewrites.
inline std::vector<uint8_t> X64Code(size_t size, uint32_t seed = 1) {
    static const std::vector<uint8_t> kOpcodes[] = {{0xE8}, {0xFF, 0x15}, {0x48, 0x8B, 0x05}};
    std::vector<uint8_t> code;
    for (uint32_t x = seed; code.size() < size;) {
        x = x * 1103515245u + 12345u;
        const uint32_t kind = x >> 30;
        if (kind == 3) {
            code.push_back(static_cast<uint8_t>(0x50 + (x >> 16) % 4));
            continue;
        }
        code.insert(code.end(), kOpcodes[kind].begin(), kOpcodes[kind].end());
        const uint32_t operand = (x >> 20) % 32 * 512 - static_cast<uint32_t>(code.size() + 4);
        for (int b = 0; b < 4; ++b) code.push_back(static_cast<uint8_t>(operand >> (8 * b)));
    }
    code.resize(size);
    return code;
}

}  // namespace packtest
