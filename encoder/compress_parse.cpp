// Parsers for compressed blocks. Both replay the decoder's context table token by token: a token
// stores only its own start position, so the positions a later match can name depend on where
// earlier tokens began.
#include "encoder/compress_parse.h"

#include <algorithm>
#include <cmath>

#include "encoder/compress_context.h"

namespace encoder {

std::vector<Token> ParseGreedy(const uint8_t* data, uint32_t size, uint32_t minLength,
                               ContextModel& model) {
    std::vector<Token> tokens;
    tokens.reserve(size / 2 + 16);
    model.Clear();
    uint32_t o = 0;
    for (; o < size && o < 3; ++o) tokens.push_back({0, data[o]});
    while (o < size) {
        if (o + 2 < size) model.Prefetch(data, o + 2);
        uint32_t index = model.BucketIndex(data, o);
        const ContextBucket& b = model.Bucket(index);
        uint32_t limit = std::min(size - o, kMaxMatchLength);
        uint32_t bestLength = 0;
        int bestSlot = -1;
        for (int k = 0; k < 4; ++k) {
            if (b.position[k] < 0) continue;
            uint32_t n = MatchLength(data, static_cast<uint32_t>(b.position[k]), o, limit);
            // Between equal matches, the slot a match used last: it stays protected.
            if (n > bestLength ||
                (n == bestLength && bestSlot >= 0 && b.stamp[k] > b.stamp[bestSlot])) {
                bestLength = n;
                bestSlot = k;
            }
        }
        if (bestSlot >= 0 && bestLength >= minLength) {
            tokens.push_back({bestLength, static_cast<uint8_t>(bestSlot)});
            model.Update(index, o, bestSlot);
            o += bestLength;
        } else {
            tokens.push_back({0, data[o]});
            model.Update(index, o, -1);
            ++o;
        }
    }
    return tokens;
}

namespace {

// Bits an entropy coder would spend on an event of the given count out of total.
float PriceOf(uint64_t count, uint64_t total) {
    if (count == 0 || total == 0) return 0;
    return static_cast<float>(std::log2(static_cast<double>(total) / static_cast<double>(count)));
}

}  // namespace

TokenPrices TokenPrices::FromTokens(const std::vector<Token>& tokens, uint32_t size,
                                    uint32_t longestLength) {
    TokenPrices p;
    uint64_t literals[256] = {}, slots[4] = {};
    uint32_t longest = std::min(longestLength, kMaxMatchLength);
    for (const Token& t : tokens) longest = std::max(longest, t.length);
    std::vector<uint64_t> lengths(longest + 1, 0);
    uint64_t literalTotal = 0, matchTotal = 0;
    for (const Token& t : tokens) {
        if (t.length == 0) {
            ++literals[t.value];
            ++literalTotal;
        } else {
            ++lengths[t.length];
            ++slots[t.value];
            ++matchTotal;
        }
    }
    double bits = 0;
    // Unseen symbols would need a table entry of their own: price them above the rarest seen.
    // A small block leaves most bytes unseen, so their one price is worked out once: a logarithm
    // per byte value cost more than the rest of the pricing together.
    const float unseenLiteral = PriceOf(1, literalTotal + 1) + 8.0f;
    for (int b = 0; b < 256; ++b) {
        p.literal[b] = literals[b] ? PriceOf(literals[b], literalTotal) : unseenLiteral;
        bits += literals[b] * p.literal[b];
    }
    uint64_t tokenTotal = literalTotal + matchTotal;
    p.flagLiteral = literalTotal ? std::max(0.05f, PriceOf(literalTotal, tokenTotal)) : 4.0f;
    p.flagMatch = matchTotal ? std::max(0.05f, PriceOf(matchTotal, tokenTotal)) : 4.0f;
    bits += literalTotal * p.flagLiteral + matchTotal * p.flagMatch;
    const float rarestMatch = PriceOf(1, matchTotal + 1);
    for (int k = 0; k < 4; ++k) {
        p.selector[k] = slots[k] ? PriceOf(slots[k], matchTotal) : rarestMatch + 2;
        bits += slots[k] * p.selector[k];
    }
    float unseen = rarestMatch + 10.0f;
    p.length.assign(longest + 1, unseen);
    for (uint32_t n = 1; n <= longest; ++n) {
        if (lengths[n] == 0) continue;
        p.length[n] = PriceOf(lengths[n], matchTotal);
        bits += lengths[n] * p.length[n];
    }
    p.bytePrice = size ? std::clamp(static_cast<float>(bits / size), 0.05f, 9.0f) : 2.5f;
    return p;
}

namespace {

struct Option {
    uint32_t length;  // 0: a literal
    int slot;
    float price;
};

// Match lengths of the four slots of b at o (0 for empty slots).
void SlotLengths(const ContextBucket& b, const uint8_t* data, uint32_t o, uint32_t limit,
                 uint32_t lengths[4]) {
    for (int k = 0; k < 4; ++k) {
        lengths[k] = b.position[k] < 0
                         ? 0
                         : MatchLength(data, static_cast<uint32_t>(b.position[k]), o, limit);
    }
}

}  // namespace

namespace {

// A few buckets changed on top of the table, for playing a parse forward without touching it.
class ScratchTable {
  public:
    explicit ScratchTable(const ContextModel& model) : model_(model) {}

    void Reset(uint32_t counter) {
        count_ = 0;
        counter_ = counter;
    }
    const ContextBucket& Get(uint32_t index) const {
        for (int i = 0; i < count_; ++i)
            if (index_[i] == index) return bucket_[i];
        return model_.Bucket(index);
    }
    uint32_t BucketIndex(const uint8_t* data, uint32_t o) const {
        uint32_t history = codec::HistoryBefore(data, o);
        uint32_t order3 = codec::Order3Bucket(history);
        if (Get(order3).position[0] >= 0) return order3;
        return codec::Order2Bucket(history);
    }
    // False when the scratch space is full.
    bool Update(uint32_t index, uint32_t o, int slot) {
        int i = 0;
        while (i < count_ && index_[i] != index) ++i;
        if (i == count_) {
            if (count_ == kCapacity) return false;
            index_[i] = index;
            bucket_[i] = model_.Bucket(index);
            ++count_;
        }
        ContextModel::Apply(bucket_[i], o, slot, counter_);
        return true;
    }

  private:
    static constexpr int kCapacity = 48;
    const ContextModel& model_;
    uint32_t index_[kCapacity];
    ContextBucket bucket_[kCapacity];
    int count_ = 0;
    uint32_t counter_ = codec::FIRST_MATCH_STAMP;
};

}  // namespace

std::vector<Token> ParseLookahead(const uint8_t* data, uint32_t size, const TokenPrices& prices,
                                  const LookaheadOptions& options, ContextModel& model) {
    constexpr uint32_t kMinLength = 2;
    constexpr uint32_t kTakeAtOnce = 64;
    const uint32_t horizon = options.horizon;
    const float lambda = prices.bytePrice;
    std::vector<Token> tokens;
    tokens.reserve(size / 2 + 16);
    model.Clear();
    ScratchTable scratch(model);
    uint32_t o = 0;
    for (; o < size && o < 3; ++o) tokens.push_back({0, data[o]});

    auto matchPrice = [&](uint32_t length, int slot) {
        return prices.flagMatch + prices.length[length] + prices.selector[slot];
    };
    // Plays greedy tokens from p until the horizon; returns their price minus lambda per byte.
    auto playGreedy = [&](uint32_t p, uint32_t end) -> float {
        float score = 0;
        int steps = 0;
        while (p < end && steps < 16) {
            uint32_t index = scratch.BucketIndex(data, p);
            const ContextBucket& b = scratch.Get(index);
            uint32_t lengths[4];
            SlotLengths(b, data, p, std::min(size - p, kMaxMatchLength), lengths);
            uint32_t best = 0;
            int slot = -1;
            for (int k = 0; k < 4; ++k)
                if (lengths[k] > best ||
                    (lengths[k] == best && slot >= 0 && b.stamp[k] > b.stamp[slot]))
                    best = lengths[k], slot = k;
            if (best >= kMinLength) {
                score += matchPrice(best, slot) - lambda * best;
                if (!scratch.Update(index, p, slot)) break;
                p += best;
            } else {
                score += prices.flagLiteral + prices.literal[data[p]] - lambda;
                if (!scratch.Update(index, p, -1)) break;
                ++p;
            }
            ++steps;
        }
        return score;
    };

    while (o < size) {
        if (o + 2 < size) model.Prefetch(data, o + 2);
        uint32_t index = model.BucketIndex(data, o);
        const ContextBucket& b = model.Bucket(index);
        uint32_t limit = std::min(size - o, kMaxMatchLength);
        uint32_t lengths[4];
        SlotLengths(b, data, o, limit, lengths);
        uint32_t longest = 0;
        int longestSlot = -1;
        for (int k = 0; k < 4; ++k) {
            if (lengths[k] > longest) longest = lengths[k], longestSlot = k;
            // The playouts start where each match ends: load those buckets meanwhile.
            if (lengths[k] >= kMinLength && o + lengths[k] < size)
                model.Prefetch(data, o + lengths[k]);
        }
        Option chosen{0, -1, 0};
        if (longest >= kTakeAtOnce) {
            chosen = {longest, longestSlot, 0};
        } else if (longest >= kMinLength) {
            Option choices[1 + 4 * (1 + kMaxShorter)];
            int count = 0;
            choices[count++] = {0, -1, prices.flagLiteral + prices.literal[data[o]]};
            for (int k = 0; k < 4; ++k) {
                for (uint32_t cut = 0; cut <= options.shorter && cut <= kMaxShorter; ++cut) {
                    if (lengths[k] < kMinLength + cut) break;
                    uint32_t n = lengths[k] - cut;
                    choices[count++] = {n, k, matchPrice(n, k)};
                }
            }
            uint32_t end = std::min(size, o + longest + horizon);
            float bestScore = 0;
            for (int i = 0; i < count; ++i) {
                const Option& a = choices[i];
                scratch.Reset(model.Counter());
                scratch.Update(index, o, a.slot);
                uint32_t advance = a.length ? a.length : 1;
                float score = a.price - lambda * advance + playGreedy(o + advance, end);
                if (i == 0 || score < bestScore) {
                    bestScore = score;
                    chosen = a;
                }
            }
        }
        if (chosen.length == 0) {
            tokens.push_back({0, data[o]});
            model.Update(index, o, -1);
            ++o;
        } else {
            tokens.push_back({chosen.length, static_cast<uint8_t>(chosen.slot)});
            model.Update(index, o, chosen.slot);
            o += chosen.length;
        }
    }
    return tokens;
}

}  // namespace encoder
