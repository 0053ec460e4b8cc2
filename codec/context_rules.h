// The rules of the context model that every compressed block starts afresh: which bucket the three
// bytes before a position pick, where a bucket's next position goes, and the stamps that decide
// it. A match names only a slot of that bucket, so the writer must replay these rules token for
// token; both it and the decoder take them from here.
#pragma once

#include <cstdint>

namespace codec {

constexpr uint32_t CONTEXT_BUCKETS = 65536;
constexpr uint32_t CONTEXT_SLOTS = 4;
// Order-2 indices stay below this, and a bucket only receives positions while it is some token's
// bucket, so the upper half of the table is never filled.
constexpr uint32_t CONTEXT_FILLABLE_BUCKETS = 32768;

// The stamp the first match of a block gives the slot it used; each later match the next one.
constexpr uint32_t FIRST_MATCH_STAMP = 100;

// history holds the three bytes before a position, the oldest in bits 16-23; bits above are
// ignored. The order-2 bucket hashes the two newest, the order-3 bucket all three. A token uses
// its order-3 bucket once that holds a position, its order-2 bucket otherwise.
inline uint32_t Order2Bucket(uint32_t history) {
    return ((history >> 1) & 0x7F80) ^ (history & 0xFF);
}

inline uint32_t Order3Bucket(uint32_t history) {
    return ((history >> 5) & 0xF800) ^ Order2Bucket(history);
}

inline uint32_t HistoryBefore(const uint8_t* data, uint32_t o) {
    return (uint32_t{data[o - 3]} << 16) | (uint32_t{data[o - 2]} << 8) | data[o - 1];
}

// Where a bucket's next position goes: the slot with the smallest stamp, the lowest-numbered on a
// tie. Computed without branches: which slot wins follows the data and would mispredict often.
inline uint32_t ReplacementSlot(uint32_t s0, uint32_t s1, uint32_t s2, uint32_t s3) {
    uint32_t lowPick = s1 < s0;
    uint32_t lowStamp = lowPick ? s1 : s0;
    uint32_t highPick = s3 < s2;
    uint32_t highStamp = highPick ? s3 : s2;
    uint32_t upper = highStamp < lowStamp;
    // A mask rather than "upper ? highPick : lowPick", which compilers turn into a branch.
    uint32_t pick = lowPick ^ ((lowPick ^ highPick) & (0u - upper));
    return (upper << 1) | pick;
}

}  // namespace codec
