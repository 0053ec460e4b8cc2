// The binary tree walk: at each node the bytes from the node and from the new position agree for
// at least the shorter of the two bounds met so far on either side, so comparing starts there.
#include "encoder/lz_match_finder.h"

#include <algorithm>
#include <cstring>

namespace encoder {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kMinFound = 3;

inline uint32_t Hash3(const uint8_t* p, uint32_t bits) {
    uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    return (v * 2654435761u) >> (32 - bits);
}

// Asks for the cache line at p ahead of its use: most of a search's time is waiting on memory.
inline void Prefetch(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

inline uint32_t Hash4(const uint8_t* p, uint32_t bits) {
    uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return (v * 2654435761u) >> (32 - bits);
}

}  // namespace

LzMatchFinder::LzMatchFinder(uint32_t niceLength, uint32_t depth, bool wideHash)
    : niceLength_(niceLength), depth_(depth), wideHash_(wideHash) {}

void LzMatchFinder::Reset(const uint8_t* data, uint32_t size) {
    data_ = data;
    size_ = size;
    // The tables are made at the first block and reused after: assign keeps the capacity that
    // an earlier, larger block left.
    head_.assign(size_t{1} << (wideHash_ ? kWideHashBits : kHashBits), kNone);
    if (wideHash_) nearHead_.assign(size_t{1} << kNearHashBits, kNone);
    children_.assign(2 * static_cast<size_t>(size), kNone);
}

bool LzMatchFinder::NearestOfThree(uint32_t pos, LzMatch* match) {
    const uint8_t* cur = data_ + pos;
    uint32_t& last = nearHead_[Hash3(cur, kNearHashBits)];
    const uint32_t candidate = last;
    last = pos;
    if (candidate == kNone || std::memcmp(data_ + candidate, cur, kMinFound) != 0) return false;
    *match = LzMatch{kMinFound, pos - candidate};
    return true;
}

uint32_t LzMatchFinder::Find(uint32_t pos, LzMatch* matches) {
    uint32_t* smaller = &children_[2 * static_cast<size_t>(pos)];
    uint32_t* larger = smaller + 1;
    // The wide hash reads four bytes.
    if (size_ - pos < (wideHash_ ? kMinFound + 1 : kMinFound)) {
        *smaller = *larger = kNone;
        return 0;
    }
    const uint8_t* cur = data_ + pos;
    uint32_t found = 0, best = kMinFound - 1;
    if (wideHash_ && NearestOfThree(pos, &matches[0])) found = 1, best = kMinFound;
    uint32_t& bucket = head_[wideHash_ ? Hash4(cur, kWideHashBits) : Hash3(cur, kHashBits)];
    uint32_t node = bucket;
    bucket = pos;
    // The next search, most often at pos + 1, starts from its bucket.
    if (wideHash_ && size_ - pos > kMinFound + 2) {
        Prefetch(&head_[Hash4(cur + 2, kWideHashBits)]);
        uint32_t nextNode = head_[Hash4(cur + 1, kWideHashBits)];
        if (nextNode != kNone) {
            Prefetch(data_ + nextNode);
            Prefetch(&children_[2 * static_cast<size_t>(nextNode)]);
        }
    }
    uint32_t maxLength = std::min(niceLength_, size_ - pos);
    uint32_t smallerLength = 0, largerLength = 0;
    for (uint32_t visits = depth_; node != kNone && visits != 0; --visits) {
        const uint8_t* candidate = data_ + node;
        uint32_t* nodeChildren = &children_[2 * static_cast<size_t>(node)];
        // The node's links are read once its bytes are compared: asked for now, the two cache
        // misses overlap.
        Prefetch(nodeChildren);
        uint32_t len = std::min(smallerLength, largerLength);
        while (len < maxLength && candidate[len] == cur[len]) ++len;
        if (len > best) {
            best = len;
            matches[found++] = LzMatch{len, pos - node};
            if (len == maxLength) {
                // The node's bytes equal ours as far as we compare: it leaves the tree, and its
                // subtrees become ours.
                *smaller = nodeChildren[0];
                *larger = nodeChildren[1];
                return found;
            }
        }
        if (candidate[len] < cur[len]) {
            *smaller = node;
            smaller = &nodeChildren[1];
            node = *smaller;
            smallerLength = len;
        } else {
            *larger = node;
            larger = &nodeChildren[0];
            node = *larger;
            largerLength = len;
        }
    }
    *smaller = *larger = kNone;
    return found;
}

}  // namespace encoder
