// A small, slow, independent decoder of compressed blocks for the encoder's tests: written
// straight from the format's rules with bounds checks everywhere, so that a block the encoder
// writes can be checked without relying on the library's optimised decoder alone. It also
// reports the bits consumed, which must equal the block header's bit length.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace encoder_test {

struct RefResult {
    std::vector<uint8_t> bytes;
    uint64_t bitsConsumed = 0;
    uint32_t headerBits = 0;
    unsigned maxCodeLength = 0;
};

class RefBits {
  public:
    RefBits(const uint8_t* body, size_t size) : body_(body), size_(size) {}
    bool Bit(uint32_t& b) {
        if (pos_ / 8 >= size_) return false;
        b = (body_[pos_ / 8] >> (pos_ % 8)) & 1;
        ++pos_;
        return true;
    }
    bool Field(unsigned n, uint32_t& v) {
        v = 0;
        for (unsigned i = 0; i < n; ++i) {
            uint32_t b;
            if (!Bit(b)) return false;
            v |= b << i;
        }
        return true;
    }
    bool Growing(uint32_t& v) {
        static const unsigned widths[] = {2, 3, 5, 8, 12, 17, 23, 30};
        uint64_t s = 0;
        for (unsigned w : widths) {
            uint32_t f;
            if (!Field(w, f)) return false;
            if (f != (1u << w) - 1) {
                v = static_cast<uint32_t>(s + f + 1);
                return true;
            }
            s += f;
        }
        return false;
    }
    uint64_t pos() const { return pos_; }

  private:
    const uint8_t* body_;
    size_t size_;
    uint64_t pos_ = 0;
};

struct RefTree {
    struct Node {
        int left = -1, right = -1;
        uint32_t lw = 0, rw = 0, sym = 0, w = 0;
    };
    std::vector<Node> nodes{Node{}};
    unsigned maxDepth = 0;

    void Insert(uint32_t sym, uint32_t w) {
        if (w == 0) return;
        int p = 0;
        unsigned depth = 0;
        for (;;) {
            bool left = nodes[p].rw > nodes[p].lw;
            int child = left ? nodes[p].left : nodes[p].right;
            int other = left ? nodes[p].right : nodes[p].left;
            if (child >= 0) {
                (left ? nodes[p].lw : nodes[p].rw) += w;
                p = child;
                ++depth;
                continue;
            }
            if (other >= 0 || p == 0) {
                (left ? nodes[p].lw : nodes[p].rw) += w;
                Node n;
                n.sym = sym;
                n.w = w;
                nodes.push_back(n);
                (left ? nodes[p].left : nodes[p].right) = static_cast<int>(nodes.size()) - 1;
                maxDepth = std::max(maxDepth, depth + 1);
                return;
            }
            Node copy;
            copy.sym = nodes[p].sym;
            copy.w = nodes[p].w;
            Node fresh;
            fresh.sym = sym;
            fresh.w = w;
            uint32_t old = nodes[p].w;
            nodes.push_back(copy);
            int ci = static_cast<int>(nodes.size()) - 1;
            nodes.push_back(fresh);
            int fi = static_cast<int>(nodes.size()) - 1;
            if (w > old) {
                nodes[p].left = ci;
                nodes[p].right = fi;
                nodes[p].lw += old;
                nodes[p].rw += w;
            } else {
                nodes[p].left = fi;
                nodes[p].right = ci;
                nodes[p].lw += w;
                nodes[p].rw += old;
            }
            nodes[p].w = 0;
            nodes[p].sym = 100000;
            maxDepth = std::max(maxDepth, depth + 1);
            return;
        }
    }
    // Walks one stream bit at a time; an empty tree gives 0 without bits.
    bool Decode(RefBits& bits, uint32_t& sym) const {
        int p = 0;
        for (unsigned depth = 0; depth <= 31; ++depth) {
            const Node& n = nodes[p];
            if (n.left < 0 && n.right < 0) {
                sym = n.sym;
                return true;
            }
            uint32_t b;
            if (!bits.Bit(b)) return false;
            p = b ? n.right : n.left;
            if (p < 0) return false;
        }
        return false;
    }
};

// Decodes one block (header and body) that starts at block[0]; nullopt when it is corrupt.
inline std::optional<RefResult> RefDecodeBlock(const uint8_t* block, size_t size) {
    if (size < 4) return std::nullopt;
    uint32_t header = block[0] | (block[1] << 8) | (block[2] << 16) | (uint32_t{block[3]} << 24);
    if ((header & 7) != 1) return std::nullopt;
    RefResult r;
    r.headerBits = header >> 3;
    RefBits bits(block + 4, size - 4);
    uint32_t tokenCount, litEntries, lenEntries, flagEntries, litWidth, selEntries, reserved;
    if (!bits.Field(24, tokenCount) || !bits.Field(8, litEntries) || !bits.Field(16, lenEntries) ||
        !bits.Field(4, flagEntries) || !bits.Field(4, litWidth) || !bits.Field(4, selEntries) ||
        !bits.Field(4, reserved))
        return std::nullopt;
    RefTree flags, lits, lens, sels;
    auto readTable = [&](RefTree& tree, uint32_t n, int symbolWidth) {
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t sym, w;
            bool ok = symbolWidth < 0 ? bits.Growing(sym) : bits.Field(symbolWidth, sym);
            if (!ok || !bits.Growing(w)) return false;
            tree.Insert(sym, w);
        }
        return true;
    };
    if (!readTable(flags, flagEntries + 1, 4) ||
        !readTable(lits, litEntries + 1, static_cast<int>(litWidth)) ||
        !readTable(lens, lenEntries, -1) || !readTable(sels, selEntries + 1, 4))
        return std::nullopt;
    r.maxCodeLength =
        std::max(std::max(flags.maxDepth, lits.maxDepth), std::max(lens.maxDepth, sels.maxDepth));

    struct Slot {
        int64_t pos = -1;
        uint32_t stamp = 0;
    };
    std::vector<Slot> table(65536 * 4);
    std::vector<uint8_t>& out = r.bytes;
    uint32_t flagSym = 0, flagIdx = 4, selSym = 0, selIdx = 4, counter = 100;
    for (uint32_t t = 0; t < tokenCount; ++t) {
        size_t o = out.size();
        Slot* bucket = nullptr;
        int64_t cand[4] = {-1, -1, -1, -1};
        if (o >= 3) {
            uint32_t x = out[o - 3], y = out[o - 2], z = out[o - 1];
            uint32_t i3 = ((x * 2048) ^ (y * 128) ^ z) % 65536;
            uint32_t i2 = ((y * 128) ^ z) % 65536;
            bucket = &table[(table[i3 * 4].pos >= 0 ? i3 : i2) * 4];
            for (int k = 0; k < 4; ++k) cand[k] = bucket[k].pos;
        }
        if (flagIdx == 4) {
            if (!flags.Decode(bits, flagSym)) return std::nullopt;
            flagIdx = 0;
        }
        bool match = (flagSym >> flagIdx) & 1;
        ++flagIdx;
        uint32_t value = 0, k = 0;
        if (!match) {
            if (!lits.Decode(bits, value)) return std::nullopt;
        } else {
            if (!lens.Decode(bits, value)) return std::nullopt;
            if (selIdx == 4) {
                if (!sels.Decode(bits, selSym)) return std::nullopt;
                selIdx = 0;
            }
            k = (selSym >> selIdx) % 4;
            selIdx += 2;
        }
        if (bucket) {
            if (match) bucket[k].stamp = counter++;
            int victim = 0;
            for (int j = 1; j < 4; ++j)
                if (bucket[j].stamp < bucket[victim].stamp) victim = j;
            bucket[victim].pos = static_cast<int64_t>(o);
            bucket[victim].stamp = 0;
        }
        if (!match) {
            out.push_back(static_cast<uint8_t>(value));
        } else {
            if (cand[k] < 0) return std::nullopt;
            if (out.size() + value > (64u << 20)) return std::nullopt;
            for (uint32_t i = 0; i < value; ++i) out.push_back(out[cand[k] + i]);
        }
    }
    r.bitsConsumed = bits.pos();
    return r;
}

}  // namespace encoder_test
