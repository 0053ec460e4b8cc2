// Fuzz target: code trees grown from arbitrary weight tables, then symbols decoded from arbitrary
// bits. Layout of an input: u16 entry count (below 1024), then per entry a u32 weight and a u32
// symbol, then the bit stream. Every symbol the probe table yields must be the one a plain walk
// of the tree along the same bits reaches, and every code must end within the stream's bits.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/code_tree.h"
#include "format/byte_order.h"
#include "tests/support/code_tree_walk.h"

namespace {

constexpr size_t kStreamSlack = 8;  // DecodeSymbol loads eight bytes from the code's first byte

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    int32_t count = (data[0] | (data[1] << 8)) & 1023;
    size_t tableBytes = static_cast<size_t>(count) * 8;
    if (size - 2 < tableBytes) return 0;
    const uint8_t* p = data + 2;

    codec::SymbolTable symbols;
    if (!symbols.Create(count)) std::abort();
    for (int32_t i = 0; i < count; ++i, p += 8) {
        symbols.entries[i].weight = format::LoadLE32(p);
        symbols.entries[i].symbol = format::LoadLE32(p + 4);
    }

    codec::CodeTree tree;
    std::memset(&tree, 0, sizeof tree);
    format::Status status = tree.Build(symbols);
    if (status == format::Status::Ok) {
        if (tree.nodeCount > tree.nodeCapacity || tree.tableBits > codec::DECODE_TABLE_BITS) {
            std::abort();
        }
        size_t streamBytes = size - 2 - tableBytes;
        auto* stream = static_cast<uint8_t*>(std::calloc(streamBytes + kStreamSlack, 1));
        if (stream == nullptr) std::abort();
        std::memcpy(stream, p, streamBytes);
        const uint32_t bitLimit = static_cast<uint32_t>(streamBytes * 8);
        uint32_t bitPos = 0;
        while (bitPos < bitLimit) {
            uint32_t start = bitPos;
            uint64_t bits = codec::PeekBits(stream, start);
            uint32_t symbol;
            if (!codec::DecodeSymbol(tree, stream, &bitPos, &symbol)) break;
            uint32_t length = bitPos - start;
            if (length > codec::MAX_CODE_LENGTH) std::abort();
            if (length == 0) break;  // a tree of one leaf at the root codes nothing
            uint32_t code = static_cast<uint32_t>(bits & ((1u << length) - 1u));
            if (vorntest::WalkToLeaf(tree, code, length) != static_cast<int64_t>(symbol))
                std::abort();
        }
        std::free(stream);
    } else if (status != format::Status::Corrupt && status != format::Status::NoMemory) {
        std::abort();
    }
    tree.Destroy();
    symbols.Release();
    return 0;
}
