#include "block_builder.h"

#include <array>
#include <functional>
#include <random>

#include "codec/bit_reader.h"
#include "codec/compressed_block_decoder.h"
#include "tests/support/code_tree_walk.h"

namespace codec_test {

void BitWriter::Put(uint64_t value, uint32_t bits) {
    for (uint32_t i = 0; i < bits; ++i) {
        uint64_t byte = bitCount_ >> 3;
        if (byte >= bytes_.size()) bytes_.push_back(0);
        if ((value >> i) & 1) bytes_[byte] |= static_cast<uint8_t>(1u << (bitCount_ & 7));
        ++bitCount_;
    }
}

void BitWriter::PutGrowingInt(uint32_t value) {
    uint32_t rest = value - 1;
    uint32_t width = 2;
    uint32_t step = 1;
    for (;;) {
        uint32_t allOnes = (1u << width) - 1;
        if (rest < allOnes) {
            Put(rest, width);
            return;
        }
        Put(allOnes, width);
        rest -= allOnes;
        width += step;
        ++step;
    }
}

std::vector<uint8_t> BitWriter::Body() const {
    std::vector<uint8_t> body = bytes_;
    body.resize(format::RoundUp16(static_cast<uint32_t>(body.size())), 0);
    return body;
}

std::vector<uint8_t> BitWriter::PaddedBody() const {
    std::vector<uint8_t> body = Body();
    body.resize(body.size() + codec::BODY_READ_SLACK, 0);
    return body;
}

namespace {

void Count(std::vector<SymbolCount>* table, uint32_t symbol) {
    for (SymbolCount& entry : *table) {
        if (entry.symbol == symbol) {
            ++entry.weight;
            return;
        }
    }
    table->push_back({symbol, 1});
}

std::vector<uint32_t> FlagSymbols(const std::vector<Token>& tokens) {
    std::vector<uint32_t> symbols;
    for (size_t i = 0; i < tokens.size(); i += 4) {
        uint32_t symbol = 0;
        for (size_t j = 0; j < 4 && i + j < tokens.size(); ++j) {
            if (tokens[i + j].match) symbol |= 1u << j;
        }
        symbols.push_back(symbol);
    }
    return symbols;
}

std::vector<uint32_t> SelectorSymbols(const std::vector<Token>& tokens) {
    std::vector<uint32_t> slots;
    for (const Token& token : tokens) {
        if (token.match) slots.push_back(token.slot);
    }
    std::vector<uint32_t> symbols;
    for (size_t i = 0; i < slots.size(); i += 2) {
        symbols.push_back(slots[i] | (i + 1 < slots.size() ? slots[i + 1] << 2 : 0));
    }
    return symbols;
}

void PutCode(BitWriter* writer, const codec::CodeTree& tree, uint32_t symbol) {
    Code code = CodeOf(tree, symbol);
    if (code.length < 0) abort();
    writer->Put(code.bits, static_cast<uint32_t>(code.length));
}

}  // namespace

BlockTables CountTokens(const std::vector<Token>& tokens, uint32_t literalWidth) {
    BlockTables tables;
    tables.literalWidth = literalWidth;
    for (uint32_t symbol : FlagSymbols(tokens)) Count(&tables.flags, symbol);
    for (const Token& token : tokens) {
        if (token.match) {
            Count(&tables.lengths, token.length);
        } else {
            Count(&tables.literals, token.literal & ((1u << literalWidth) - 1));
        }
    }
    for (uint32_t symbol : SelectorSymbols(tokens)) Count(&tables.selectors, symbol);
    if (tables.flags.empty()) tables.flags.push_back({0, 1});
    if (tables.literals.empty()) tables.literals.push_back({0, 1});
    if (tables.selectors.empty()) tables.selectors.push_back({0, 1});
    return tables;
}

codec::CodeTree BuildTree(const std::vector<SymbolCount>& entries, uint32_t tableBits) {
    codec::SymbolTable table;
    table.Create(static_cast<int32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        table.entries[i].symbol = entries[i].symbol;
        table.entries[i].weight = entries[i].weight;
    }
    codec::CodeTree tree = {};
    if (tree.Build(table, tableBits) != format::Status::Ok) abort();
    table.Release();
    return tree;
}

Code CodeOf(const codec::CodeTree& tree, uint32_t symbol) {
    Code found{0, -1};
    std::function<void(int32_t, uint32_t, int32_t)> walk = [&](int32_t index, uint32_t bits,
                                                               int32_t depth) {
        const codec::CodeTreeNode& node = tree.nodes[index];
        if (node.IsLeaf()) {
            if (node.symbol == symbol && found.length < 0) found = Code{bits, depth};
            return;
        }
        if (node.left >= 0) walk(node.left, bits, depth + 1);
        if (node.right >= 0) walk(node.right, bits | (1u << depth), depth + 1);
    };
    walk(0, 0, 0);
    return found;
}

BitWriter EncodeBlock(const std::vector<Token>& tokens, const BlockTables& tables,
                      int64_t tokenCount) {
    BitWriter writer;
    uint32_t count =
        tokenCount >= 0 ? static_cast<uint32_t>(tokenCount) : static_cast<uint32_t>(tokens.size());
    writer.Put(count, 24);
    writer.Put(tables.literals.size() - 1, 8);
    writer.Put(tables.lengths.size(), 16);
    writer.Put(tables.flags.size() - 1, 4);
    writer.Put(tables.literalWidth, 4);
    writer.Put(tables.selectors.size() - 1, 4);
    writer.Put(0, 4);
    for (const SymbolCount& e : tables.flags) {
        writer.Put(e.symbol, 4);
        writer.PutGrowingInt(e.weight);
    }
    for (const SymbolCount& e : tables.literals) {
        writer.Put(e.symbol, tables.literalWidth);
        writer.PutGrowingInt(e.weight);
    }
    for (const SymbolCount& e : tables.lengths) {
        writer.PutGrowingInt(e.symbol);
        writer.PutGrowingInt(e.weight);
    }
    for (const SymbolCount& e : tables.selectors) {
        writer.Put(e.symbol, 4);
        writer.PutGrowingInt(e.weight);
    }
    codec::CodeTree flagTree = BuildTree(tables.flags);
    codec::CodeTree literalTree = BuildTree(tables.literals);
    codec::CodeTree lengthTree = BuildTree(tables.lengths);
    codec::CodeTree selectorTree = BuildTree(tables.selectors);
    std::vector<uint32_t> flagSymbols = FlagSymbols(tokens);
    std::vector<uint32_t> selectorSymbols = SelectorSymbols(tokens);
    size_t matches = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (i % 4 == 0) PutCode(&writer, flagTree, flagSymbols[i / 4]);
        const Token& token = tokens[i];
        if (!token.match) {
            uint32_t mask = (1u << tables.literalWidth) - 1;
            PutCode(&writer, literalTree, token.literal & mask);
            continue;
        }
        if (lengthTree.nodeCount > 1) PutCode(&writer, lengthTree, token.length);
        if (matches % 2 == 0) PutCode(&writer, selectorTree, selectorSymbols[matches / 2]);
        ++matches;
    }
    flagTree.Destroy();
    literalTree.Destroy();
    lengthTree.Destroy();
    selectorTree.Destroy();
    return writer;
}

namespace {

// The context table as the format describes it: explicit empty marks, every bucket reachable.
struct ContextModel {
    struct Slot {
        bool filled = false;
        uint32_t position = 0;
        uint32_t stamp = 0;
    };
    std::vector<std::array<Slot, 4>> buckets = std::vector<std::array<Slot, 4>>(65536);
    uint32_t stampCounter = 100;

    std::array<Slot, 4>* Bucket(const std::vector<uint8_t>& out, size_t o) {
        if (o < 3) return nullptr;
        uint32_t x = out[o - 3], y = out[o - 2], z = out[o - 1];
        uint32_t order3 = ((x * 2048) ^ (y * 128) ^ z) % 65536;
        uint32_t order2 = ((y * 128) ^ z) % 65536;
        return buckets[order3][0].filled ? &buckets[order3] : &buckets[order2];
    }

    void Update(std::array<Slot, 4>* bucket, bool match, uint32_t slot, uint32_t o) {
        if (bucket == nullptr) return;
        if (match) (*bucket)[slot].stamp = stampCounter++;
        uint32_t best = 0;
        for (uint32_t j = 1; j < 4; ++j) {
            if ((*bucket)[j].stamp < (*bucket)[best].stamp) best = j;
        }
        (*bucket)[best] = Slot{true, o, 0};
    }
};

}  // namespace

std::vector<Token> RandomValidTokens(uint32_t seed, uint32_t count, uint32_t alphabet,
                                     std::vector<uint8_t>* expected) {
    std::mt19937 random(seed);
    ContextModel model;
    std::vector<Token> tokens;
    std::vector<uint8_t>& out = *expected;
    out.clear();
    for (uint32_t t = 0; t < count; ++t) {
        auto* bucket = model.Bucket(out, out.size());
        std::vector<uint32_t> usable;
        if (bucket != nullptr) {
            for (uint32_t j = 0; j < 4; ++j) {
                if ((*bucket)[j].filled && (*bucket)[j].position < out.size()) usable.push_back(j);
            }
        }
        bool match = !usable.empty() && random() % 3 != 0;
        if (!match) {
            uint8_t byte = static_cast<uint8_t>('a' + random() % alphabet);
            model.Update(bucket, false, 0, static_cast<uint32_t>(out.size()));
            out.push_back(byte);
            tokens.push_back(Lit(byte));
            continue;
        }
        uint32_t slot = usable[random() % usable.size()];
        uint32_t source = (*bucket)[slot].position;
        uint32_t length = 1 + random() % 12;
        if (random() % 8 == 0) length = 20 + random() % 200;
        model.Update(bucket, true, slot, static_cast<uint32_t>(out.size()));
        for (uint32_t i = 0; i < length; ++i) out.push_back(out[source + i]);
        tokens.push_back(Match(length, slot));
    }
    return tokens;
}

uint32_t ProbeSymbol(const codec::CodeTree& tree, const uint8_t* base, uint32_t* bitPos, bool* ok) {
    for (uint32_t length = 0; length <= 31; ++length) {
        uint32_t code = codec::ReadBits(base, *bitPos, length);
        int64_t result = vorntest::WalkToLeaf(tree, code, length);
        if (result >= 0) {
            *bitPos += length;
            return static_cast<uint32_t>(result);
        }
    }
    // The last probe fails either on a missing branch or a path beyond 31 steps.
    *ok = false;
    return 0;
}

namespace {

codec::CodeTree ReadTable(const uint8_t* base, uint32_t* bitPos, uint32_t entries, int symbolBits,
                          uint32_t capacity, bool* ok) {
    codec::SymbolTable table;
    table.Create(static_cast<int32_t>(capacity));
    for (uint32_t i = 0; i < entries; ++i) {
        if (symbolBits < 0) {
            table.entries[i].symbol = codec::ReadGrowingInt(base, bitPos);
        } else {
            table.entries[i].symbol = codec::ReadBits(base, *bitPos, symbolBits);
            *bitPos += static_cast<uint32_t>(symbolBits);
        }
        table.entries[i].weight = codec::ReadGrowingInt(base, bitPos);
        if (table.entries[i].weight == 0) *ok = false;
    }
    codec::CodeTree tree = {};
    if (*ok && tree.Build(table) != format::Status::Ok) *ok = false;
    table.Release();
    return tree;
}

}  // namespace

bool ReferenceDecode(const std::vector<uint8_t>& paddedBody, std::vector<uint8_t>* outBytes,
                     uint32_t outCapacity) {
    const uint8_t* base = paddedBody.data();
    uint32_t bitPos = 64;
    uint32_t tokens = codec::ReadBits(base, 0, 24);
    uint32_t literalEntries = codec::ReadBits(base, 24, 8) + 1;
    uint32_t lengthEntries = codec::ReadBits(base, 32, 16);
    uint32_t flagEntries = codec::ReadBits(base, 48, 4) + 1;
    uint32_t literalWidth = codec::ReadBits(base, 52, 4);
    uint32_t selectorEntries = codec::ReadBits(base, 56, 4) + 1;
    bool ok = true;
    codec::CodeTree flagTree = ReadTable(base, &bitPos, flagEntries, 4, 16, &ok);
    codec::CodeTree literalTree = ReadTable(base, &bitPos, literalEntries, literalWidth, 256, &ok);
    codec::CodeTree lengthTree = ReadTable(base, &bitPos, lengthEntries, -1, lengthEntries, &ok);
    codec::CodeTree selectorTree = ReadTable(base, &bitPos, selectorEntries, 4, 16, &ok);
    ContextModel model;
    std::vector<uint8_t>& out = *outBytes;
    out.clear();
    uint32_t flagSymbol = 0, flagIndex = 4, selectorSymbol = 0, selectorIndex = 4;
    for (uint32_t t = 0; ok && t < tokens; ++t) {
        auto* bucket = model.Bucket(out, out.size());
        std::array<ContextModel::Slot, 4> candidates{};
        if (bucket != nullptr) candidates = *bucket;
        if (flagIndex == 4) {
            flagSymbol = ProbeSymbol(flagTree, base, &bitPos, &ok);
            flagIndex = 0;
        }
        bool match = (flagSymbol >> flagIndex++) & 1;
        if (!match) {
            uint32_t literal = ProbeSymbol(literalTree, base, &bitPos, &ok);
            model.Update(bucket, false, 0, static_cast<uint32_t>(out.size()));
            out.push_back(static_cast<uint8_t>(literal));
        } else {
            uint32_t length = ProbeSymbol(lengthTree, base, &bitPos, &ok);
            if (selectorIndex == 4) {
                selectorSymbol = ProbeSymbol(selectorTree, base, &bitPos, &ok);
                selectorIndex = 0;
            }
            uint32_t slot = (selectorSymbol >> selectorIndex) & 3;
            selectorIndex += 2;
            if (bucket == nullptr || !candidates[slot].filled) {
                ok = false;
                break;
            }
            model.Update(bucket, true, slot, static_cast<uint32_t>(out.size()));
            uint32_t source = candidates[slot].position;
            if (length > 0 && source >= out.size()) ok = false;
            for (uint32_t i = 0; ok && i < length; ++i) out.push_back(out[source + i]);
        }
        if (out.size() > outCapacity) ok = false;
        if (bitPos > paddedBody.size() * 8 - codec::BODY_READ_SLACK * 8) ok = false;
    }
    flagTree.Destroy();
    literalTree.Destroy();
    lengthTree.Destroy();
    selectorTree.Destroy();
    return ok;
}

}  // namespace codec_test
