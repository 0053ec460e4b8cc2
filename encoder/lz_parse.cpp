// The shortest-path parse. Each window starts from one position with known recent distances; every
// reached position keeps its cheapest arrival (a literal or a match of some length and distance)
// and the recent distances along that arrival. A match of niceLength or more ends the window
// there: it is taken whole, which keeps long repeats fast.
#include "encoder/lz_parse.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace encoder {

namespace {

using namespace format;

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kBitPrice = 16;

struct Node {
    uint32_t price;
    LzToken arrival;
    uint32_t recent[kLzRepeatKinds];
};

inline uint32_t SlotPrice(const uint32_t* slotPrices, uint32_t value) {
    uint32_t slot = LzSlotOf(value);
    return slotPrices[slot] + kBitPrice * LzSlotExtraBits(slot);
}

inline uint32_t MatchPrice(const LzPrices& prices, uint32_t kind, uint32_t length) {
    uint32_t price = prices.main[LzMatchSymbol(kind, length)];
    if (length >= kLzLongLength) price += SlotPrice(prices.length, length - kLzLongLength);
    return price;
}

inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t len = 0;
    while (len + 8 <= limit) {
        uint64_t x, y;
        memcpy(&x, a + len, 8);
        memcpy(&y, b + len, 8);
        if (x != y) return len + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
        len += 8;
    }
    while (len < limit && a[len] == b[len]) ++len;
    return len;
}

class WindowSearch {
  public:
    explicit WindowSearch(size_t nodes) : nodes_(nodes) {}

    void Start(const uint32_t* recent) {
        nodes_[0].price = 0;
        memcpy(nodes_[0].recent, recent, sizeof nodes_[0].recent);
        reach_ = 0;
    }

    Node& At(uint32_t i) { return nodes_[i]; }

    void Relax(uint32_t from, uint32_t to, uint32_t price, const LzToken& arrival) {
        while (reach_ < to) nodes_[++reach_].price = kInfinite;
        Node& node = nodes_[to];
        if (price >= node.price) return;
        node.price = price;
        node.arrival = arrival;
        memcpy(node.recent, nodes_[from].recent, sizeof node.recent);
        if (arrival.kind != kLzLiteralToken) UpdateRecent(arrival, node.recent);
    }

    // Appends the tokens of the cheapest path to node end.
    void Backtrack(uint32_t end, std::vector<LzToken>* tokens) {
        size_t first = tokens->size();
        for (uint32_t i = end; i > 0; i -= nodes_[i].arrival.length) {
            tokens->push_back(nodes_[i].arrival);
        }
        std::reverse(tokens->begin() + static_cast<std::ptrdiff_t>(first), tokens->end());
    }

  private:
    std::vector<Node> nodes_;
    uint32_t reach_ = 0;
};

}  // namespace

void UpdateRecent(const LzToken& token, uint32_t* recent) {
    uint32_t moved = token.kind == kLzKindNewDistance ? kLzRepeatKinds - 1 : token.kind;
    for (uint32_t k = moved; k > 0; --k) recent[k] = recent[k - 1];
    recent[0] = token.distance;
}

void CountToken(const LzToken& token, const uint8_t* literal, LzCounts* counts) {
    if (token.kind == kLzLiteralToken) {
        ++counts->main[*literal];
        return;
    }
    ++counts->main[LzMatchSymbol(token.kind, token.length)];
    if (token.length >= kLzLongLength) ++counts->length[LzSlotOf(token.length - kLzLongLength)];
    if (token.kind == kLzKindNewDistance) ++counts->distance[LzSlotOf(token.distance - 1)];
}

namespace {

// -log2 of each symbol's share, counts smoothed so that unseen symbols cost a little more than
// the rarest seen one; a code of no counts prices every symbol at fallbackBits.
void SharePrices(const uint32_t* counts, uint32_t count, double fallbackBits, uint32_t* prices) {
    double total = 0;
    for (uint32_t s = 0; s < count; ++s) total += counts[s];
    for (uint32_t s = 0; s < count; ++s) {
        double bits =
            total == 0 ? fallbackBits : std::log2((total + count * 0.5) / (counts[s] + 0.5));
        bits = std::min(std::max(bits, 1.0), 20.0);
        prices[s] = static_cast<uint32_t>(bits * kBitPrice + 0.5);
    }
}

}  // namespace

void PricesFromCounts(const LzCounts& counts, LzPrices* prices, uint32_t distanceSymbols) {
    SharePrices(counts.main, kLzMainSymbols, 8.0, prices->main);
    SharePrices(counts.length, kLzLengthSymbols, 4.0, prices->length);
    SharePrices(counts.distance, distanceSymbols, 5.0, prices->distance);
}

void FindSegmentMatches(LzMatchFinder* finder, const uint8_t* data, uint32_t size, uint32_t begin,
                        uint32_t end, uint32_t niceLength, LzSegmentMatches* found) {
    found->first = begin;
    found->start.assign(end - begin + 1, 0);
    found->matches.clear();
    std::vector<LzMatch> scratch(niceLength + 1);
    uint32_t skipUntil = begin;
    for (uint32_t pos = begin; pos < end; ++pos) {
        found->start[pos - begin] = static_cast<uint32_t>(found->matches.size());
        if (pos < skipUntil) continue;
        uint32_t n = finder->Find(pos, scratch.data());
        found->matches.insert(found->matches.end(), scratch.begin(), scratch.begin() + n);
        if (n != 0 && scratch[n - 1].length >= niceLength) {
            const uint8_t* from = data + pos;
            uint32_t full = CommonLength(from, from - scratch[n - 1].distance, size - pos);
            skipUntil = pos + full;
        }
    }
    found->start[end - begin] = static_cast<uint32_t>(found->matches.size());
}

uint32_t ParseSegment(const uint8_t* data, uint32_t size, uint32_t begin, uint32_t end,
                      const LzSegmentMatches& found, const LzPrices& prices,
                      const LzParseSettings& settings, uint32_t* recent,
                      std::vector<LzToken>* tokens) {
    const uint32_t nice = settings.niceLength;
    WindowSearch search(settings.window + nice + 1);
    uint32_t pos = begin;
    while (pos < end) {
        const uint32_t span = std::min(settings.window, end - pos);
        search.Start(recent);
        LzToken longMatch{0, 0, 0};
        uint32_t i = 0;
        for (; i < span; ++i) {
            const uint32_t at = pos + i;
            const uint32_t room = size - at;
            const uint32_t base = search.At(i).price;
            uint32_t nodeRecent[kLzRepeatKinds];
            memcpy(nodeRecent, search.At(i).recent, sizeof nodeRecent);
            search.Relax(i, i + 1, base + prices.main[data[at]], LzToken{kLzLiteralToken, 1, 0});
            for (uint32_t kind = 0; kind < kLzRepeatKinds && longMatch.length == 0; ++kind) {
                uint32_t distance = nodeRecent[kind];
                if (distance > at) continue;
                uint32_t len = CommonLength(data + at, data + at - distance, room);
                if (len >= nice) {
                    longMatch = LzToken{kind, len, distance};
                    break;
                }
                len = std::min(len, end - at);
                for (uint32_t l = kLzMinMatch; l <= len; ++l) {
                    search.Relax(i, i + l, base + MatchPrice(prices, kind, l),
                                 LzToken{kind, l, distance});
                }
            }
            if (longMatch.length != 0) break;
            uint32_t shortest = 3;
            const uint32_t* from = &found.start[at - found.first];
            for (uint32_t m = from[0]; m < from[1]; ++m) {
                LzMatch match = found.matches[m];
                // In a solid group the finder compares on into the next block: its lengths are
                // cut at this block's end, so a long match is one that fits the block.
                match.length = std::min(match.length, room);
                uint32_t len = std::min(match.length, end - at);
                if (match.length >= nice) {
                    len = CommonLength(data + at, data + at - match.distance, room);
                    longMatch = LzToken{kLzKindNewDistance, len, match.distance};
                    break;
                }
                bool isRecent = std::find(nodeRecent, nodeRecent + kLzRepeatKinds,
                                          match.distance) != nodeRecent + kLzRepeatKinds;
                uint32_t distancePrice = SlotPrice(prices.distance, match.distance - 1);
                for (uint32_t l = shortest; l <= len && !isRecent; ++l) {
                    search.Relax(i, i + l,
                                 base + distancePrice + MatchPrice(prices, kLzKindNewDistance, l),
                                 LzToken{kLzKindNewDistance, l, match.distance});
                }
                shortest = std::max(shortest, len + 1);
            }
            if (longMatch.length != 0) break;
        }
        search.Backtrack(i, tokens);
        memcpy(recent, search.At(i).recent, sizeof search.At(i).recent);
        pos += i;
        if (longMatch.length != 0) {
            tokens->push_back(longMatch);
            UpdateRecent(longMatch, recent);
            pos += longMatch.length;
        }
    }
    return pos;
}

}  // namespace encoder
