// The binary tree walk: at each node the bytes from the node and from the new position agree for
// at least the shorter of the two bounds met so far on either side, so comparing starts there.
#include "encoder/lz_match_finder.h"

#include <algorithm>

namespace encoder {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kMinFound = 3;

inline uint32_t Hash3(const uint8_t* p, uint32_t bits) {
    uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    return (v * 2654435761u) >> (32 - bits);
}

}  // namespace

LzMatchFinder::LzMatchFinder(uint32_t niceLength, uint32_t depth)
    : niceLength_(niceLength), depth_(depth) {}

void LzMatchFinder::Reset(const uint8_t* data, uint32_t size) {
    data_ = data;
    size_ = size;
    // The tables are made at the first block and reused after: assign keeps the capacity that
    // an earlier, larger block left.
    head_.assign(size_t{1} << kHashBits, kNone);
    children_.assign(2 * static_cast<size_t>(size), kNone);
}

uint32_t LzMatchFinder::Find(uint32_t pos, LzMatch* matches) {
    uint32_t* smaller = &children_[2 * static_cast<size_t>(pos)];
    uint32_t* larger = smaller + 1;
    if (size_ - pos < kMinFound) {
        *smaller = *larger = kNone;
        return 0;
    }
    const uint8_t* cur = data_ + pos;
    uint32_t& bucket = head_[Hash3(cur, kHashBits)];
    uint32_t node = bucket;
    bucket = pos;
    uint32_t maxLength = std::min(niceLength_, size_ - pos);
    uint32_t smallerLength = 0, largerLength = 0, best = kMinFound - 1, found = 0;
    for (uint32_t visits = depth_; node != kNone && visits != 0; --visits) {
        const uint8_t* candidate = data_ + node;
        uint32_t len = std::min(smallerLength, largerLength);
        while (len < maxLength && candidate[len] == cur[len]) ++len;
        uint32_t* nodeChildren = &children_[2 * static_cast<size_t>(node)];
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
