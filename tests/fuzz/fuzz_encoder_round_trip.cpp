// Fuzz target: the encoders against the decoders. The input (up to 256 KiB) is encoded as one
// block at levels 1, 2 and 3 through the entry point the writer calls, and each block is decoded
// by the reader's decoder for its type into an output area of exactly the input's size, as an
// entry of that size is decoded. A block the decoder refuses, or bytes that differ from the
// input, abort: either is an archive that its own writer made and no reader can extract. One
// encoder state serves every block, as the writer's states serve block after block, so what a
// block leaves behind in it is exercised too. Then the input, cut in two at a point its first
// byte chooses, is encoded as the two entries of one solid group and decoded block after block
// into one history, as a reader decodes a group.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/compressed_block_decoder.h"
#include "codec/lz_block_decoder.h"
#include "encoder/block_encoder.h"
#include "encoder/encoder_state.h"
#include "encoder/lz_block_encoder.h"
#include "format/block.h"
#include "format/solid.h"

namespace {

constexpr size_t kMaxInput = 256 * 1024;

template <typename T>
T* ScratchOf() {
    // Garbage-filled once: the decoders must build every table they read.
    static T* scratch = [] {
        auto* t = static_cast<T*>(std::malloc(sizeof(T)));
        std::memset(static_cast<void*>(t), 0xA5, sizeof(T));
        return t;
    }();
    return scratch;
}

[[noreturn]] void Fail(int level, const char* what) {
    std::fprintf(stderr, "level %d: %s\n", level, what);
    std::abort();
}

// Decodes the one block in block[] into out[0 .. size).
format::Status DecodeBlock(const std::vector<uint8_t>& block, uint8_t* out, uint32_t size,
                           uint32_t* produced) {
    const format::BlockHeader header = format::DecodeBlockHeader(block.data());
    const uint32_t bodyBytes = static_cast<uint32_t>(block.size() - format::kBlockHeaderBytes);
    std::vector<uint8_t> body(bodyBytes + codec::BODY_READ_SLACK, 0);
    std::memcpy(body.data(), block.data() + format::kBlockHeaderBytes, bodyBytes);
    if (header.type == format::kBlockLz) {
        return codec::DecodeLzBlock(body.data(), bodyBytes, header.length,
                                    ScratchOf<codec::LzDecodeTables>(), out, size, produced);
    }
    if (header.type == format::kBlockCompressed) {
        return codec::DecodeCompressedBlock(body.data(), bodyBytes,
                                            ScratchOf<codec::ContextTable>(), out, size, produced);
    }
    return format::Status::Corrupt;
}

// The input as a solid group of two blocks, decoded into a history of exactly its size; inputs of
// odd sizes have their matches found on a thread ahead of the parse.
void SolidRoundTrip(const uint8_t* data, uint32_t size) {
    static auto* group = new encoder::LzGroupEncoder();
    const uint32_t cut = size < 2 ? size : 1 + data[0] * (size - 1) / 255;
    std::vector<uint32_t> blocks = {cut};
    if (cut < size) blocks.push_back(size - cut);
    if (group->Start(data, blocks, size % 2 == 1) != format::Status::Ok) {
        Fail(4, "the group was refused");
    }
    std::vector<uint8_t> window(size);
    codec::LzHistory history{window.data(), size, 0};
    std::vector<uint8_t> staging(format::kBlockBufferSize);
    for (uint32_t blockSize : blocks) {
        std::vector<uint8_t> block;
        if (group->EncodeNext(block) != format::Status::Ok) Fail(4, "a group block was refused");
        const format::BlockHeader header = format::DecodeBlockHeader(block.data());
        const uint32_t bodyBytes = static_cast<uint32_t>(block.size() - format::kBlockHeaderBytes);
        std::vector<uint8_t> body(bodyBytes + codec::BODY_READ_SLACK, 0);
        std::memcpy(body.data(), block.data() + format::kBlockHeaderBytes, bodyBytes);
        const uint32_t at = history.filled;
        if (header.type == format::kBlockStored) {
            if (header.length != blockSize) Fail(4, "a stored block of another size");
            std::memcpy(window.data() + at, body.data(), blockSize);
            history.filled += blockSize;
            continue;
        }
        const uint8_t* output = nullptr;
        uint32_t produced = 0;
        if (header.type != format::kBlockLzHistory ||
            codec::DecodeLzHistoryBlock(body.data(), bodyBytes, header.length,
                                        ScratchOf<codec::LzDecodeTables>(), &history, blockSize,
                                        staging.data(), &output, &produced) != format::Status::Ok) {
            Fail(4, "the decoder refused a group block");
        }
        if (produced != blockSize || std::memcmp(output, data + at, blockSize) != 0) {
            Fail(4, "a group block decodes to other bytes");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxInput) return 0;
    static auto* state = new encoder::EncoderState();
    std::vector<uint8_t> block;
    auto* out = static_cast<uint8_t*>(std::malloc(size));
    if (out == nullptr) std::abort();
    const uint32_t bytes = static_cast<uint32_t>(size);
    for (int level : {1, 2, encoder::kLzLevel}) {
        block.clear();
        const encoder::EncoderOptions options{level};
        if (encoder::EncodeCompressedBlock(data, bytes, options, *state, block) !=
            format::Status::Ok) {
            Fail(level, "the encoder refused a block within its limits");
        }
        const format::BlockHeader header = format::DecodeBlockHeader(block.data());
        const uint32_t wantType =
            level >= encoder::kLzLevel ? format::kBlockLz : format::kBlockCompressed;
        if (header.type != wantType || block.size() % 16 != format::kBlockHeaderBytes) {
            Fail(level, "the block's framing is wrong");
        }
        uint32_t produced = 0;
        if (DecodeBlock(block, out, bytes, &produced) != format::Status::Ok) {
            Fail(level, "the decoder refused the block");
        }
        if (produced != bytes || std::memcmp(out, data, size) != 0) {
            Fail(level, "the block decodes to other bytes");
        }
    }
    std::free(out);
    SolidRoundTrip(data, bytes);
    return 0;
}
