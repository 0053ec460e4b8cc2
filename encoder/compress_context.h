// The writer's view of the decoder's context table. Matches carry no distance, only the number of
// a slot in the bucket of the three preceding bytes, so the writer must know at every token which
// positions the decoder will hold there: it applies the decoder's own rules (codec/context_rules.h)
// token by token, on a layout made for trying alternatives rather than for decoding.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/context_rules.h"

namespace encoder {

struct ContextBucket {
    int32_t position[codec::CONTEXT_SLOTS];  // -1: empty
    uint32_t stamp[codec::CONTEXT_SLOTS];
};

class ContextModel {
  public:
    static constexpr uint32_t kBuckets = codec::CONTEXT_BUCKETS;

    ContextModel() : buckets_(kBuckets) {
        for (ContextBucket& b : buckets_) Empty(b);
    }

    // Empties the table for a new block. Small blocks touch few buckets, so only those are reset.
    void Clear() {
        if (touched_.size() < kBuckets / 8) {
            for (uint32_t index : touched_) Empty(buckets_[index]);
        } else {
            for (ContextBucket& b : buckets_) Empty(b);
        }
        touched_.clear();
        counter_ = codec::FIRST_MATCH_STAMP;
    }

    // The bucket for the token at o (o at least 3): the order-3 bucket once it holds a position,
    // else the order-2 bucket.
    uint32_t BucketIndex(const uint8_t* data, uint32_t o) const {
        uint32_t history = codec::HistoryBefore(data, o);
        uint32_t order3 = codec::Order3Bucket(history);
        if (buckets_[order3].position[0] >= 0) return order3;
        return codec::Order2Bucket(history);
    }

    const ContextBucket& Bucket(uint32_t index) const { return buckets_[index]; }

    // Starts loading both buckets a token at o might use; the bytes before o are known long
    // before the parse gets there, so the table's cache misses can overlap with work.
    void Prefetch(const uint8_t* data, uint32_t o) const {
        uint32_t history = codec::HistoryBefore(data, o);
        __builtin_prefetch(&buckets_[codec::Order3Bucket(history)]);
        __builtin_prefetch(&buckets_[codec::Order2Bucket(history)]);
    }

    // Records the token at o in its bucket: a match protects the slot it used with the next
    // stamp, then o goes to the bucket's replacement slot.
    void Update(uint32_t index, uint32_t o, int matchedSlot) {
        // Slot 0 is the first to fill and no slot ever empties again.
        if (buckets_[index].position[0] < 0) touched_.push_back(index);
        Apply(buckets_[index], o, matchedSlot, counter_);
    }

    // Counter value that the next match would take.
    uint32_t Counter() const { return counter_; }

    // The same update on a detached bucket copy, for trying alternatives without touching the
    // table; counter is advanced when a match is recorded.
    static void Apply(ContextBucket& b, uint32_t o, int matchedSlot, uint32_t& counter) {
        if (matchedSlot >= 0) b.stamp[matchedSlot] = counter++;
        uint32_t victim = codec::ReplacementSlot(b.stamp[0], b.stamp[1], b.stamp[2], b.stamp[3]);
        b.position[victim] = static_cast<int32_t>(o);
        b.stamp[victim] = 0;
    }

  private:
    static void Empty(ContextBucket& b) {
        for (uint32_t k = 0; k < codec::CONTEXT_SLOTS; ++k) {
            b.position[k] = -1;
            b.stamp[k] = 0;
        }
    }

    std::vector<ContextBucket> buckets_;
    std::vector<uint32_t> touched_;
    uint32_t counter_ = codec::FIRST_MATCH_STAMP;
};

// Length of the common run of data[c ...] and data[o ...] (c < o), at most limit bytes. The copy
// may overlap the bytes it produces, which the comparison on the original data already covers.
inline uint32_t MatchLength(const uint8_t* data, uint32_t c, uint32_t o, uint32_t limit) {
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t a, b;
        std::memcpy(&a, data + c + n, 8);
        std::memcpy(&b, data + o + n, 8);
        uint64_t diff = a ^ b;
        if (diff != 0) return n + static_cast<uint32_t>(__builtin_ctzll(diff) >> 3);
        n += 8;
    }
    while (n < limit && data[c + n] == data[o + n]) ++n;
    return n;
}

}  // namespace encoder
