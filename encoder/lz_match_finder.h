// Match finding for the LZ block: a binary tree of every earlier position of the block, ordered by
// the bytes that follow each, under a hash of their first three bytes. Searching a position walks
// its tree from the root and re-roots it there, so one walk both finds the matches and inserts the
// position. Distances reach the whole block, or in a solid group the whole group.
#pragma once

#include <cstdint>
#include <vector>

namespace encoder {

struct LzMatch {
    uint32_t length;
    uint32_t distance;
};

class LzMatchFinder {
  public:
    // niceLength: matches this long end a search; depth: nodes a search visits at most. With
    // wideHash, the trees sit under a hash of four bytes in a larger table, for windows of tens of
    // MiB whose three-byte trees grow deep, and a table of their own gives the nearest match of
    // three bytes.
    LzMatchFinder(uint32_t niceLength, uint32_t depth, bool wideHash = false);

    // Starts a block of data[0 .. size); data stays valid while the block is searched.
    void Reset(const uint8_t* data, uint32_t size);
    // Matches at pos (positions in increasing order, each once; positions may be left out, as
    // those inside a long match are), of increasing length from 3, each the nearest found for its
    // length; returns how many were written to matches (room for niceLength entries). Inserts
    // pos into the tree.
    uint32_t Find(uint32_t pos, LzMatch* matches);

  private:
    static constexpr uint32_t kHashBits = 18;
    static constexpr uint32_t kWideHashBits = 22;
    static constexpr uint32_t kNearHashBits = 16;
    // The nearest earlier position with the same three bytes as pos, under wideHash.
    bool NearestOfThree(uint32_t pos, LzMatch* match);

    const uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t niceLength_;
    uint32_t depth_;
    bool wideHash_;
    std::vector<uint32_t> head_;
    std::vector<uint32_t> nearHead_;  // under wideHash: the last position of each three bytes' hash
    std::vector<uint32_t> children_;  // 2 per position: the smaller, then the larger subtree
};

}  // namespace encoder
