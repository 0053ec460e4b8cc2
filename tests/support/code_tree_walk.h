// A code tree walked node by node, with none of the decoder's tables: the oracle that tests and
// the code-tree fuzz target hold the decode tables against.
#pragma once

#include <cstdint>

#include "codec/code_tree.h"

namespace vorntest {

// The leaf that at most maxLength steps along code's bits (bit 0 first) reach; -1 when there is
// none.
inline int64_t WalkToLeaf(const codec::CodeTree& tree, uint32_t code, uint32_t maxLength) {
    if (tree.nodes == nullptr) return -1;
    int32_t index = 0;
    for (uint32_t depth = 0;; ++depth) {
        const codec::CodeTreeNode& node = tree.nodes[index];
        if (node.IsLeaf()) return node.symbol;
        if (depth >= maxLength || depth >= 32) return -1;
        index = ((code >> depth) & 1) != 0 ? node.right : node.left;
        if (index < 0) return -1;
    }
}

}  // namespace vorntest
