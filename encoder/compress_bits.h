// Bit output for compressed block bodies: fields go out least significant bit first, each byte
// filled from its bit 0, the order in which the decoder's bit reader takes them back.
#pragma once

#include <cstdint>
#include <vector>

#include "format/block.h"

namespace encoder {

class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

    // Writes the low n bits of value (n at most 32).
    void Write(uint32_t value, unsigned n) {
        if (n == 0) return;
        if (n < 32) value &= (1u << n) - 1;
        pending_ |= static_cast<uint64_t>(value) << pendingBits_;
        pendingBits_ += n;
        bitCount_ += n;
        while (pendingBits_ >= 8) {
            out_.push_back(static_cast<uint8_t>(pending_));
            pending_ >>= 8;
            pendingBits_ -= 8;
        }
    }

    // Writes v (at least 1) as a growing-width integer.
    void WriteGrowingInt(uint32_t v);

    // Flushes the last partial byte with zero bits above the data.
    void Finish() {
        if (pendingBits_ > 0) out_.push_back(static_cast<uint8_t>(pending_));
        pending_ = 0;
        pendingBits_ = 0;
    }

    uint64_t BitCount() const { return bitCount_; }

  private:
    std::vector<uint8_t>& out_;
    uint64_t pending_ = 0;
    unsigned pendingBits_ = 0;
    uint64_t bitCount_ = 0;
};

// Bits that WriteGrowingInt spends on v (at least 1).
unsigned GrowingIntBits(uint32_t v);

inline void BitWriter::WriteGrowingInt(uint32_t v) {
    uint32_t r = v - 1;
    for (unsigned w : format::kGrowingIntWidths) {
        uint32_t escape = (1u << w) - 1;
        if (r < escape) {
            Write(r, w);
            return;
        }
        Write(escape, w);
        r -= escape;
    }
}

inline unsigned GrowingIntBits(uint32_t v) {
    uint32_t r = v - 1;
    unsigned bits = 0;
    for (unsigned w : format::kGrowingIntWidths) {
        uint32_t escape = (1u << w) - 1;
        bits += w;
        if (r < escape) return bits;
        r -= escape;
    }
    return bits;
}

}  // namespace encoder
