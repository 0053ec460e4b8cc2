// Decoding of one compressed block: body header, the four weight tables, and the token loop that
// rebuilds the output from literals and context matches. Corrupt or hostile bodies end with status
// 3 and never make the loop read or write outside the body, its read slack, or the output area.
#include "codec/block_decoder.h"

#include <cstring>

#include "codec/bit_reader.h"
#include "codec/code_tree.h"

namespace codec {

namespace {

struct BlockCoding {
    SymbolTable flags;
    SymbolTable literals;
    SymbolTable lengths;
    SymbolTable selectors;
    CodeTree flagTree;
    CodeTree literalTree;
    CodeTree lengthTree;
    CodeTree selectorTree;

    void Release() {
        flagTree.Destroy();
        literalTree.Destroy();
        lengthTree.Destroy();
        selectorTree.Destroy();
        flags.Release();
        literals.Release();
        lengths.Release();
        selectors.Release();
    }
};

// Symbols of fixed width, or (symbolBits == 0 with growingSymbols) growing-width integers.
uint32_t ReadSymbolTable(const uint8_t* body, uint32_t* bitPos, uint32_t bitLimit,
                         SymbolTable* table, int32_t entries, uint32_t symbolBits,
                         bool growingSymbols) {
    for (int32_t i = 0; i < entries; ++i) {
        if (*bitPos > bitLimit) return kBlockCorrupt;
        uint32_t symbol;
        if (growingSymbols) {
            symbol = ReadGrowingInt(body, bitPos);
            if (symbol == 0 || *bitPos > bitLimit) return kBlockCorrupt;
        } else {
            symbol = ReadBits(body, *bitPos, symbolBits);
            *bitPos += symbolBits;
        }
        uint32_t weight = ReadGrowingInt(body, bitPos);
        if (weight == 0) return kBlockCorrupt;
        table->entries[i].symbol = symbol;
        table->entries[i].weight = weight;
    }
    return *bitPos > bitLimit ? kBlockCorrupt : kBlockOk;
}

uint32_t ReadTablesAndBuildTrees(const uint8_t* body, uint32_t* bitPos, uint32_t bitLimit,
                                 int32_t literalEntries, int32_t lengthEntries, int32_t flagEntries,
                                 uint32_t literalWidth, int32_t selectorEntries,
                                 BlockCoding* coding) {
    if (!coding->flags.Create(16) || !coding->selectors.Create(16) ||
        !coding->literals.Create(256) || !coding->lengths.Create(lengthEntries)) {
        return kBlockNoMemory;
    }
    uint32_t status =
        ReadSymbolTable(body, bitPos, bitLimit, &coding->flags, flagEntries, 4, false);
    if (status == kBlockOk) {
        status = ReadSymbolTable(body, bitPos, bitLimit, &coding->literals, literalEntries,
                                 literalWidth, false);
    }
    if (status == kBlockOk) {
        status = ReadSymbolTable(body, bitPos, bitLimit, &coding->lengths, lengthEntries, 0, true);
    }
    if (status == kBlockOk) {
        status =
            ReadSymbolTable(body, bitPos, bitLimit, &coding->selectors, selectorEntries, 4, false);
    }
    if (status == kBlockOk) status = coding->flagTree.Build(coding->flags);
    if (status == kBlockOk) status = coding->literalTree.Build(coding->literals);
    if (status == kBlockOk) status = coding->lengthTree.Build(coding->lengths);
    if (status == kBlockOk) status = coding->selectorTree.Build(coding->selectors);
    return status;
}

// The new position replaces the slot with the smallest stamp, the lowest-numbered on a tie: a
// fresh position (stamp 0) is the first to go, a slot a match used recently is kept longest.
inline void StorePosition(ContextBucket* bucket, uint32_t position) {
    uint32_t slot = 0;
    for (uint32_t j = 1; j < CONTEXT_SLOTS; ++j) {
        if (bucket->stamp[j] < bucket->stamp[slot]) slot = j;
    }
    bucket->position[slot] = position;
    bucket->stamp[slot] = 0;
}

uint32_t DecodeTokens(const uint8_t* body, uint32_t bitPos, uint32_t bitLimit, uint32_t tokenCount,
                      const BlockCoding& coding, ContextTable* table, uint8_t* out,
                      uint32_t outCapacity, uint32_t* produced, uint32_t* bitsUsed) {
    ContextBucket* buckets = table->buckets;
    uint32_t o = 0;
    uint32_t flagSymbol = 0;
    uint32_t flagIndex = 4;
    uint32_t selectorSymbol = 0;
    uint32_t selectorIndex = 4;
    uint32_t stampCounter = 100;

    for (uint32_t token = 0; token < tokenCount; ++token) {
        // One token reads at most three codes of at most 25 bits each, well inside the slack.
        if (bitPos > bitLimit) return kBlockCorrupt;

        ContextBucket* bucket = nullptr;
        if (o >= 3) {
            uint32_t x = out[o - 3];
            uint32_t y = out[o - 2];
            uint32_t z = out[o - 1];
            uint32_t order2 = (y << 7) ^ z;
            uint32_t order3 = ((x << 11) ^ order2) & 0xFFFF;
            bucket = &buckets[order2];
            if (order3 < CONTEXT_FILLABLE_BUCKETS && buckets[order3].position[0] != 0) {
                bucket = &buckets[order3];
            }
        }

        if (flagIndex == 4) {
            if (!DecodeSymbol(coding.flagTree, body, &bitPos, &flagSymbol)) return kBlockCorrupt;
            flagIndex = 0;
        }
        bool isMatch = ((flagSymbol >> flagIndex) & 1) != 0;
        ++flagIndex;

        if (!isMatch) {
            uint32_t literal;
            if (!DecodeSymbol(coding.literalTree, body, &bitPos, &literal)) return kBlockCorrupt;
            if (o >= outCapacity) return kBlockCorrupt;
            if (bucket != nullptr) StorePosition(bucket, o);
            out[o++] = static_cast<uint8_t>(literal);
            continue;
        }

        uint32_t length;
        if (!DecodeSymbol(coding.lengthTree, body, &bitPos, &length)) return kBlockCorrupt;
        if (selectorIndex == 4) {
            if (!DecodeSymbol(coding.selectorTree, body, &bitPos, &selectorSymbol)) {
                return kBlockCorrupt;
            }
            selectorIndex = 0;
        }
        uint32_t slot = (selectorSymbol >> selectorIndex) & 3;
        selectorIndex += 2;

        // Before offset 3 a block has no context, hence no candidates.
        if (bucket == nullptr) return kBlockCorrupt;
        uint32_t source = bucket->position[slot];
        bucket->stamp[slot] = stampCounter++;
        StorePosition(bucket, o);

        if (source == 0) return kBlockCorrupt;
        if (length > outCapacity - o) return kBlockCorrupt;
        if (length == 0) continue;
        // A position equal to o comes from a length-0 match; copying from it would read bytes
        // the block has not produced.
        if (source >= o) return kBlockCorrupt;
        // Byte by byte in increasing order: a source fewer bytes back than the length repeats the
        // bytes just written.
        uint8_t* dst = out + o;
        const uint8_t* src = out + source;
        for (uint32_t i = 0; i < length; ++i) dst[i] = src[i];
        o += length;
    }
    if (bitPos > bitLimit) return kBlockCorrupt;
    *produced = o;
    *bitsUsed = bitPos;
    return kBlockOk;
}

}  // namespace

uint32_t DecodeCompressedBlock(const uint8_t* body, uint32_t bodyBytes, ContextTable* table,
                               uint8_t* out, uint32_t outCapacity, uint32_t* produced,
                               uint32_t* bitsUsed) {
    *produced = 0;
    uint32_t bitsRead = 0;
    // Bits beyond the padded body are never stream bits; the limit keeps reads inside the slack.
    uint64_t limit64 = static_cast<uint64_t>(bodyBytes) * 8;
    if (limit64 > 0xFFFFFF00u) return kBlockCorrupt;
    uint32_t bitLimit = static_cast<uint32_t>(limit64);

    memset(table->buckets, 0, sizeof(ContextBucket) * CONTEXT_FILLABLE_BUCKETS);

    uint32_t bitPos = 0;
    uint32_t h0 = ReadBits(body, 0, 16);
    uint32_t h1 = ReadBits(body, 16, 16);
    uint32_t h2 = ReadBits(body, 32, 16);
    uint32_t h3 = ReadBits(body, 48, 16);
    bitPos = 64;
    if (bitPos > bitLimit) return kBlockCorrupt;

    uint32_t tokenCount = h0 | ((h1 & 0xFF) << 16);
    int32_t literalEntries = static_cast<int32_t>(h1 >> 8) + 1;
    int32_t lengthEntries = static_cast<int32_t>(h2);
    int32_t flagEntries = static_cast<int32_t>(h3 & 15) + 1;
    uint32_t literalWidth = (h3 >> 4) & 15;
    int32_t selectorEntries = static_cast<int32_t>((h3 >> 8) & 15) + 1;

    BlockCoding coding;
    memset(&coding, 0, sizeof coding);
    uint32_t status =
        ReadTablesAndBuildTrees(body, &bitPos, bitLimit, literalEntries, lengthEntries, flagEntries,
                                literalWidth, selectorEntries, &coding);
    bitsRead = bitPos;
    if (status == kBlockOk && tokenCount != 0) {
        status = DecodeTokens(body, bitPos, bitLimit, tokenCount, coding, table, out, outCapacity,
                              produced, &bitsRead);
    }
    coding.Release();
    if (status == kBlockOk && bitsUsed != nullptr) *bitsUsed = bitsRead;
    return status;
}

}  // namespace codec
