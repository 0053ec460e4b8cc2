// Code tables for compressed blocks: picks entry order and weights, replays the decoder's tree
// growth to learn the real codes, and keeps the cheapest choice whose codes stay within reach of
// the decoder's bit reader.
#include "encoder/compress_tree.h"

#include <algorithm>
#include <climits>
#include <new>
#include <numeric>
#include <queue>

#include "codec/code_tree.h"
#include "encoder/compress_bits.h"

namespace encoder {
namespace {

// Table bits plus coded bits of a choice; UINT64_MAX when some code is too long.
uint64_t CostOf(const CodeTable& table, const std::vector<uint64_t>& counts,
                const std::function<unsigned(uint32_t)>& symbolBits) {
    if (table.maxLength > kMaxCodeLength) return UINT64_MAX;
    uint64_t bits = 0;
    for (const TableEntry& e : table.entries) {
        bits += symbolBits(e.symbol) + GrowingIntBits(e.weight);
        bits += counts[e.symbol] * table.lengths[e.symbol];
    }
    return bits;
}

}  // namespace

void AssignCodes(const std::vector<TableEntry>& entries, uint32_t alphabetSize, CodeTable& table) {
    table.codes.assign(alphabetSize, 0);
    table.lengths.assign(alphabetSize, 0);
    table.maxLength = 0;
    codec::SymbolTable symbols;
    if (!symbols.Create(static_cast<int32_t>(entries.size()))) throw std::bad_alloc();
    for (size_t i = 0; i < entries.size(); ++i) {
        symbols.entries[i] = codec::SymbolWeight{entries[i].weight, entries[i].symbol};
    }
    codec::CodeTree tree{};
    format::Status grown = tree.Grow(symbols);
    symbols.Release();
    if (grown == format::Status::NoMemory) throw std::bad_alloc();
    if (grown != format::Status::Ok) {
        table.maxLength = UINT_MAX;  // deeper than the decoder goes
    } else if (tree.nodeCount > 1) {
        struct Visit {
            int32_t node;
            uint32_t code;
            unsigned depth;
        };
        std::vector<Visit> stack{{0, 0, 0}};
        while (!stack.empty()) {
            Visit v = stack.back();
            stack.pop_back();
            const codec::CodeTreeNode& n = tree.nodes[v.node];
            if (n.IsLeaf()) {
                table.codes[n.symbol] = v.code;
                table.lengths[n.symbol] = static_cast<uint8_t>(std::min(v.depth, 255u));
                table.maxLength = std::max(table.maxLength, v.depth);
                continue;
            }
            uint32_t bit = v.depth < 32 ? (1u << v.depth) : 0;
            if (n.left >= 0) stack.push_back({n.left, v.code, v.depth + 1});
            if (n.right >= 0) stack.push_back({n.right, v.code | bit, v.depth + 1});
        }
    }
    tree.Destroy();
}

PrefixCodeDepths OptimalCodeDepths(const std::vector<uint64_t>& counts) {
    PrefixCodeDepths code;
    code.alphabetSize = static_cast<uint32_t>(counts.size());
    for (uint32_t s = 0; s < counts.size(); ++s)
        if (counts[s] > 0) code.used.push_back(s);
    const std::vector<uint32_t>& used = code.used;
    if (used.size() < 2) return code;

    // Huffman: merge the two lightest, remember parents, read depths back.
    size_t n = used.size();
    std::vector<int32_t> parent(2 * n - 1, -1);
    using Item = std::pair<uint64_t, int32_t>;
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
    for (size_t i = 0; i < n; ++i) heap.push({counts[used[i]], static_cast<int32_t>(i)});
    int32_t next = static_cast<int32_t>(n);
    while (heap.size() > 1) {
        Item a = heap.top();
        heap.pop();
        Item b = heap.top();
        heap.pop();
        parent[a.second] = next;
        parent[b.second] = next;
        heap.push({a.first + b.first, next});
        ++next;
    }
    std::vector<unsigned> depth(2 * n - 1, 0);
    for (int32_t i = next - 2; i >= 0; --i) depth[i] = depth[parent[i]] + 1;
    depth.resize(n);
    code.depth = std::move(depth);
    code.order.resize(n);
    std::iota(code.order.begin(), code.order.end(), 0);
    std::sort(code.order.begin(), code.order.end(),
              [&](uint32_t a, uint32_t b) { return counts[used[a]] > counts[used[b]]; });
    return code;
}

std::vector<uint8_t> LimitedCodeLengths(const PrefixCodeDepths& code, unsigned limit) {
    std::vector<uint8_t> lengths(code.alphabetSize, 0);
    const std::vector<uint32_t>& used = code.used;
    const std::vector<uint32_t>& order = code.order;
    if (used.empty()) return lengths;
    if (used.size() == 1) {
        lengths[used[0]] = 1;
        return lengths;
    }

    // Clip to the limit, then lengthen the cheapest codes until the lengths fit a prefix code
    // again, and shorten the dearest ones while room is left.
    size_t n = used.size();
    std::vector<unsigned> len(n);
    const uint64_t full = uint64_t{1} << limit;
    uint64_t kraft = 0;
    for (size_t i = 0; i < n; ++i) {
        len[i] = std::min(code.depth[i], limit);
        kraft += uint64_t{1} << (limit - len[i]);
    }
    while (kraft > full) {
        // The least frequent symbol that can still grow.
        for (size_t j = n; j-- > 0;) {
            uint32_t i = order[j];
            if (len[i] < limit) {
                kraft -= uint64_t{1} << (limit - len[i] - 1);
                ++len[i];
                break;
            }
        }
    }
    for (size_t j = 0; j < n; ++j) {
        uint32_t i = order[j];
        while (len[i] > 1 && kraft + (uint64_t{1} << (limit - len[i])) <= full) {
            kraft += uint64_t{1} << (limit - len[i]);
            --len[i];
        }
    }
    for (size_t i = 0; i < n; ++i) lengths[used[i]] = static_cast<uint8_t>(len[i]);
    return lengths;
}

std::vector<uint8_t> LimitedCodeLengths(const std::vector<uint64_t>& counts, unsigned limit) {
    return LimitedCodeLengths(OptimalCodeDepths(counts), limit);
}

CodeTable BuildCodeTable(const std::vector<uint64_t>& counts,
                         const std::function<unsigned(uint32_t)>& symbolBits) {
    const uint32_t alphabet = static_cast<uint32_t>(counts.size());
    std::vector<uint32_t> used;
    for (uint32_t s = 0; s < alphabet; ++s)
        if (counts[s] > 0) used.push_back(s);
    CodeTable best;
    if (used.empty()) {
        AssignCodes({}, alphabet, best);
        return best;
    }
    // Most frequent first: early entries settle near the root.
    std::stable_sort(used.begin(), used.end(),
                     [&](uint32_t a, uint32_t b) { return counts[a] > counts[b]; });
    uint64_t bestCost = UINT64_MAX;
    auto consider = [&](std::vector<TableEntry> entries) {
        CodeTable candidate;
        candidate.entries = std::move(entries);
        AssignCodes(candidate.entries, alphabet, candidate);
        uint64_t cost = CostOf(candidate, counts, symbolBits);
        if (cost < bestCost) {
            bestCost = cost;
            best = std::move(candidate);
        }
    };

    // Weights of 2^(longest - length) for the lengths of a length-limited prefix code, shortest
    // codes first: the lighter-side descent then lays the leaves out as that code. Lower limits
    // make the weights cheaper to send.
    const PrefixCodeDepths optimal = OptimalCodeDepths(counts);
    for (unsigned limit : {kMaxCodeLength - 1, 20u, 16u, 12u}) {
        if (limit < 32 && (uint64_t{1} << limit) < used.size()) continue;
        std::vector<uint8_t> lengths = LimitedCodeLengths(optimal, limit);
        std::vector<uint32_t> byLength = used;
        std::stable_sort(byLength.begin(), byLength.end(),
                         [&](uint32_t a, uint32_t b) { return lengths[a] < lengths[b]; });
        unsigned longest = lengths[byLength.back()];
        std::vector<TableEntry> entries;
        for (uint32_t s : byLength) entries.push_back({s, 1u << (longest - lengths[s])});
        consider(std::move(entries));
    }
    // The true counts, clamped so the sums stay far from overflow.
    {
        std::vector<TableEntry> entries;
        for (uint32_t s : used)
            entries.push_back({s, static_cast<uint32_t>(std::min<uint64_t>(counts[s], 1u << 24))});
        consider(std::move(entries));
    }
    // Equal weights give a balanced tree, never deeper than 17 levels for a table of 65536.
    {
        std::vector<TableEntry> entries;
        for (uint32_t s : used) entries.push_back({s, 1});
        consider(std::move(entries));
    }
    // Equal weights give a balanced tree, so the last choice always fits: best is never empty.
    return best;
}

}  // namespace encoder
