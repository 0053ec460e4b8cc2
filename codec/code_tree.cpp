// Symbol tables and code trees of a compressed block: growing the tree by the lighter-side rule,
// and turning it into the probe table that DecodeSymbol and the block decoder read. Nodes come
// from one array per tree; a hostile table can neither exhaust it nor grow the tree without bound.
#include "codec/code_tree.h"

#include <cstdlib>
#include <cstring>

#include "format/failed_check.h"

namespace codec {

bool SymbolTable::Create(int32_t n) {
    entries = nullptr;
    count = 0;
    allocation = nullptr;
    if (n < 0) return false;
    size_t bytes = static_cast<size_t>(n) * sizeof(SymbolWeight) + 32;
    allocation = malloc(bytes);
    if (allocation == nullptr) return false;
    uintptr_t aligned =
        (reinterpret_cast<uintptr_t>(allocation) + 31) & ~static_cast<uintptr_t>(31);
    entries = reinterpret_cast<SymbolWeight*>(aligned);
    count = n;
    for (int32_t i = 0; i < n; ++i) {
        entries[i].weight = 0;
        entries[i].symbol = static_cast<uint32_t>(i);
    }
    return true;
}

bool SymbolTable::CreateIn(SymbolWeight* storage, int32_t capacity, int32_t n) {
    if (n < 0 || n > capacity) return Create(n);
    entries = storage;
    count = n;
    allocation = nullptr;
    for (int32_t i = 0; i < n; ++i) entries[i] = SymbolWeight{0, static_cast<uint32_t>(i)};
    return true;
}

void SymbolTable::Release() {
    free(allocation);
    allocation = nullptr;
    entries = nullptr;
    count = 0;
}

namespace {

int32_t NewLeaf(CodeTree* tree, uint32_t symbol, uint32_t weight) {
    int32_t index = tree->nodeCount++;
    CodeTreeNode& node = tree->nodes[index];
    node.left = -1;
    node.leftWeight = 0;
    node.right = -1;
    node.rightWeight = 0;
    node.symbol = symbol;
    node.weight = weight;
    return index;
}

CodeDecodeEntry MakeEntry(uint32_t kind, uint32_t value, uint32_t length) {
    return (value << CODE_ENTRY_VALUE_SHIFT) | (kind << 5) | length;
}

// A leaf's entry: its symbol, or a walk to it when the symbol does not fit an entry.
CodeDecodeEntry LeafEntry(const CodeTreeNode& node, int32_t index, uint32_t depth) {
    return node.symbol <= CODE_ENTRY_MAX_VALUE
               ? MakeEntry(CODE_LEAF, node.symbol, depth)
               : MakeEntry(CODE_WALK, static_cast<uint32_t>(index), depth);
}

// Repeats the table's first `filled` entries until it holds `size`. The first levels are a few
// entries each, copied by a plain loop: a call to memcpy costs more than such a copy.
void Repeat(CodeDecodeEntry* table, uint32_t filled, uint32_t size) {
    for (; filled < size && filled < 64; filled *= 2) {
        for (uint32_t i = 0; i < filled; ++i) table[filled + i] = table[i];
    }
    for (; filled < size; filled *= 2) memcpy(table + filled, table, filled * sizeof *table);
}

// Fills the table level by level: the table of d bits is the one of d - 1 bits twice over, with
// the entries of the nodes at depth d written in. Each code then costs one store whatever its
// length, where writing all of a short code's copies cost 2^(tableBits - depth) scattered stores.
// The nodes whose children the next level writes wait in a queue, each as its index above its
// code's bits; there are fewer than 2^tableBits of them.
void FillTable(CodeTree* tree) {
    CodeDecodeEntry* table = tree->table;
    const CodeTreeNode* nodes = tree->nodes;
    const uint32_t bits = tree->tableBits;
    if (nodes[0].IsLeaf() || bits == 0) {
        table[0] = nodes[0].IsLeaf() ? LeafEntry(nodes[0], 0, 0) : MakeEntry(CODE_WALK, 0, 0);
        Repeat(table, 1, 1u << bits);
        return;
    }
    constexpr uint32_t kCodeMask = (1u << DECODE_TABLE_BITS) - 1;
    uint32_t queue[1u << DECODE_TABLE_BITS];
    uint32_t head = 0;
    uint32_t tail = 0;
    queue[tail++] = 0;
    for (uint32_t depth = 1; depth <= bits && head < tail; ++depth) {
        Repeat(table, 1u << (depth - 1), 1u << depth);
        for (const uint32_t levelEnd = tail; head < levelEnd; ++head) {
            const CodeTreeNode& node = nodes[queue[head] >> DECODE_TABLE_BITS];
            for (uint32_t bit = 0; bit < 2; ++bit) {
                const int32_t child = bit != 0 ? node.right : node.left;
                const uint32_t code = (queue[head] & kCodeMask) | (bit << (depth - 1));
                if (child < 0) {
                    table[code] = MakeEntry(CODE_MISSING, 0, 0);
                } else if (nodes[child].IsLeaf()) {
                    table[code] = LeafEntry(nodes[child], child, depth);
                } else if (depth == bits) {
                    table[code] = MakeEntry(CODE_WALK, static_cast<uint32_t>(child), depth);
                } else {
                    queue[tail++] = (static_cast<uint32_t>(child) << DECODE_TABLE_BITS) | code;
                }
            }
        }
        if (head == tail) Repeat(table, 1u << depth, 1u << bits);
    }
}

}  // namespace

bool CodeTree::Insert(uint32_t symbol, uint32_t weight) {
    if (weight == 0) return true;
    int32_t index = 0;
    uint32_t depth = 0;
    for (;;) {
        // Which side is lighter follows the weights and would mispredict as a branch: the side
        // and both new weights are selected.
        CodeTreeNode& p = nodes[index];
        const uint32_t leftWeight = p.leftWeight;
        const uint32_t rightWeight = p.rightWeight;
        const bool leftIsLighter = rightWeight > leftWeight;
        const int32_t next = leftIsLighter ? p.left : p.right;
        if (next >= 0) {
            p.leftWeight = leftWeight + (leftIsLighter ? weight : 0);
            p.rightWeight = rightWeight + (leftIsLighter ? 0 : weight);
            index = next;
            if (++depth > MAX_TREE_DEPTH) return false;
            continue;
        }
        if (depth + 1 > MAX_TREE_DEPTH) return false;
        int32_t other = leftIsLighter ? p.right : p.left;
        if (other >= 0 || index == 0) {
            int32_t leaf = NewLeaf(this, symbol, weight);
            CodeTreeNode& parent = nodes[index];
            if (leftIsLighter) {
                parent.leftWeight += weight;
                parent.left = leaf;
            } else {
                parent.rightWeight += weight;
                parent.right = leaf;
            }
        } else {
            // p is a leaf: it becomes internal over a copy of itself and the newcomer, the heavier
            // on the right and, on equal weights, the newcomer on the left.
            uint32_t oldWeight = p.weight;
            int32_t copy = NewLeaf(this, p.symbol, oldWeight);
            int32_t leaf = NewLeaf(this, symbol, weight);
            CodeTreeNode& split = nodes[index];
            if (weight > oldWeight) {
                split.left = copy;
                split.right = leaf;
                split.leftWeight += oldWeight;
                split.rightWeight += weight;
            } else {
                split.left = leaf;
                split.right = copy;
                split.leftWeight += weight;
                split.rightWeight += oldWeight;
            }
            split.weight = 0;
            split.symbol = INTERNAL_NODE_SYMBOL;
        }
        if (depth + 1 > maxDepth) maxDepth = depth + 1;
        return true;
    }
}

format::Status CodeTree::Grow(const SymbolTable& symbols) {
    if (nodes == nullptr) {
        int32_t used = 0;
        for (int32_t i = 0; i < symbols.count; ++i) used += symbols.entries[i].weight != 0 ? 1 : 0;
        nodeCapacity = 1 + 2 * used;
        nodes = nodeCapacity <= lentCapacity
                    ? lentNodes
                    : static_cast<CodeTreeNode*>(malloc(sizeof(CodeTreeNode) * nodeCapacity));
        if (nodes == nullptr) return format::Status::NoMemory;
        nodeCount = 0;
        maxDepth = 0;
        NewLeaf(this, 0, 0);
    }
    for (int32_t i = 0; i < symbols.count; ++i) {
        CORRUPT_IF(nodeCount + 2 > nodeCapacity && symbols.entries[i].weight != 0);
        CORRUPT_IF(!Insert(symbols.entries[i].symbol, symbols.entries[i].weight));
    }
    return format::Status::Ok;
}

format::Status CodeTree::Build(const SymbolTable& symbols, uint32_t bits) {
    format::Status grown = Grow(symbols);
    if (grown != format::Status::Ok) return grown;
    // A fixed width lets the block decoder mask with a constant; short codes repeat their entries.
    tableBits = bits < DECODE_TABLE_BITS ? bits : DECODE_TABLE_BITS;
    if (table != lentTable) free(table);
    table = lentTable != nullptr
                ? lentTable
                : static_cast<CodeDecodeEntry*>(malloc(sizeof(CodeDecodeEntry) << tableBits));
    if (table == nullptr) return format::Status::NoMemory;
    FillTable(this);
    return format::Status::Ok;
}

void CodeTree::Lend(CodeTreeNode* storage, int32_t capacity, CodeDecodeEntry* decodeTable) {
    lentNodes = storage;
    lentCapacity = capacity;
    lentTable = decodeTable;
}

void CodeTree::Destroy() {
    if (nodes != lentNodes) free(nodes);
    if (table != lentTable) free(table);
    nodes = nullptr;
    table = nullptr;
    nodeCount = 0;
    nodeCapacity = 0;
    maxDepth = 0;
    tableBits = 0;
}

bool WalkLongCode(const CodeTree& tree, CodeDecodeEntry entry, uint64_t bits, uint32_t* symbol,
                  uint32_t* length) {
    if ((entry & CODE_ENTRY_KIND_MASK) != (CODE_WALK << 5)) return false;
    uint32_t depth = entry & CODE_ENTRY_LENGTH_MASK;
    int32_t index = static_cast<int32_t>(entry >> CODE_ENTRY_VALUE_SHIFT);
    bits >>= depth;
    for (;;) {
        const CodeTreeNode& node = tree.nodes[index];
        if (node.IsLeaf()) {
            *symbol = node.symbol;
            *length = depth;
            return true;
        }
        if (depth >= MAX_CODE_LENGTH) return false;
        index = (bits & 1) != 0 ? node.right : node.left;
        if (index < 0) return false;
        bits >>= 1;
        ++depth;
    }
}

}  // namespace codec
