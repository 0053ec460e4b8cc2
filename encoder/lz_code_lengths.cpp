// Huffman's construction over a sorted list with two queues (leaves, then merged nodes), which
// needs no heap: merged weights come out in increasing order.
#include "encoder/lz_code_lengths.h"

#include <algorithm>
#include <cstring>

namespace encoder {

namespace {

constexpr uint32_t kMaxSymbols = 512;

// Huffman's lengths of the used symbols; returns the longest.
uint32_t HuffmanLengths(const uint64_t* weights, uint32_t count, uint8_t* lengths) {
    uint32_t order[kMaxSymbols];
    uint32_t used = 0;
    for (uint32_t s = 0; s < count; ++s) {
        lengths[s] = 0;
        if (weights[s] != 0) order[used++] = s;
    }
    if (used == 0) return 0;
    if (used == 1) {
        lengths[order[0]] = 1;
        return 1;
    }
    std::stable_sort(order, order + used,
                     [&](uint32_t a, uint32_t b) { return weights[a] < weights[b]; });
    // Nodes 0 .. used-1 are leaves in weight order, used .. 2*used-2 the merged nodes.
    uint64_t weight[2 * kMaxSymbols];
    uint32_t parent[2 * kMaxSymbols];
    for (uint32_t i = 0; i < used; ++i) weight[i] = weights[order[i]];
    uint32_t leaf = 0, merged = used, next = used;
    auto take = [&]() {
        if (leaf < used && (merged >= next || weight[leaf] <= weight[merged])) return leaf++;
        return merged++;
    };
    while (next < 2 * used - 1) {
        uint32_t a = take(), b = take();
        weight[next] = weight[a] + weight[b];
        parent[a] = parent[b] = next++;
    }
    uint32_t depth[2 * kMaxSymbols];
    depth[next - 1] = 0;
    uint32_t longest = 0;
    for (uint32_t i = next - 1; i-- > 0;) {
        depth[i] = depth[parent[i]] + 1;
        if (i < used) {
            lengths[order[i]] = static_cast<uint8_t>(depth[i]);
            longest = std::max(longest, depth[i]);
        }
    }
    return longest;
}

}  // namespace

void LimitedCodeLengths(const uint32_t* counts, uint32_t count, uint32_t maxLength,
                        uint8_t* lengths) {
    uint64_t weights[kMaxSymbols];
    for (uint32_t s = 0; s < count; ++s) weights[s] = counts[s];
    // Halving flattens the distribution while every used symbol keeps a weight of at least 1;
    // all weights equal give a balanced code, which fits.
    while (HuffmanLengths(weights, count, lengths) > maxLength) {
        for (uint32_t s = 0; s < count; ++s) {
            if (weights[s] != 0) weights[s] = (weights[s] + 1) / 2;
        }
    }
}

}  // namespace encoder
