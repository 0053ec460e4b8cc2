// Block encoding for the writer: one stored or compressed block, its 4-byte header followed by its
// body padded to a multiple of 16 bytes. Enciphering the body is the writer's job, not this one's.
#pragma once

#include <cstdint>
#include <vector>

#include "format/status.h"

namespace encoder {

using format::Status;

// What an encoder reuses from block to block (encoder/encoder_state.h).
struct EncoderState;

// From this level on blocks are LZ blocks (type 2), which only archives marked for them hold and
// only readers from VORN 0.2 on read.
constexpr int kLzLevel = 3;

struct EncoderOptions {
    // 1 = greedy longest match; 2 weighs each choice by what follows; 3 writes LZ blocks with
    // distances over the whole block, parsed at the least price.
    int level = 2;
};

// Appends one compressed block of data[0 .. size) to out, working in state. InvalidArgument,
// appending nothing, for more than 8 MiB of data or a body that would exceed the reader's 8 MiB
// buffer (incompressible data close to 8 MiB); EncodeBestBlock stores such data instead.
Status EncodeCompressedBlock(const uint8_t* data, uint32_t size, const EncoderOptions& options,
                             EncoderState& state, std::vector<uint8_t>& out);

// Appends the compressed block of data[0 .. size) when it is worthwhile (see
// CompressionIsWorthwhile), the stored block otherwise. Incompressible data therefore never grows
// beyond the stored block's framing, a compressed body never exceeds the decoder's 8 MiB read
// buffer, and data that compresses by only a few percent (already compressed files) stays stored
// and decodes at copy speed. InvalidArgument for more than 8 MiB of data.
Status EncodeBestBlock(const uint8_t* data, uint32_t size, const EncoderOptions& options,
                       EncoderState& state, std::vector<uint8_t>& out);

// A compressed block is written only when it is at least this fraction (1/16) of the stored
// block smaller than the stored block.
constexpr uint64_t kWorthwhileSavingDivisor = 16;

// Bytes of the stored block of size data bytes: header and body padded to 16 bytes.
uint64_t StoredBlockBytes(uint32_t size);

// Whether a compressed block of compressedBytes (header and padded body) is chosen over the
// stored block of storedBytes: it must save at least storedBytes / 16, rounded down.
bool CompressionIsWorthwhile(uint64_t compressedBytes, uint64_t storedBytes);

// Appends one stored block of data[0 .. size) to out; InvalidArgument for 2^29 bytes or more,
// which the header's length field cannot hold.
Status EncodeStoredBlock(const uint8_t* data, uint32_t size, std::vector<uint8_t>& out);

}  // namespace encoder
