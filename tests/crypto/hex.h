// Hex strings to bytes and back, for the tables of published test vectors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes FromHex(const char* text) {
    Bytes out;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(std::string(text + i, 2), nullptr, 16)));
    }
    return out;
}

inline std::string ToHex(const uint8_t* data, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) out += {digits[data[i] >> 4], digits[data[i] & 15]};
    return out;
}

inline std::string ToHex(const Bytes& bytes) {
    return ToHex(bytes.data(), bytes.size());
}
