// An entry's data area as the writer makes it: the entry cut into blocks of at most 8 MiB, each
// stored or compressed, and the body of each enciphered when the entry has a password.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/block_encoder.h"
#include "format/block.h"
#include "format/status.h"

namespace pack {

using encoder::EncoderOptions;
using encoder::EncoderState;
using format::Status;

// Output bytes per block, the largest that a reader's buffer takes.
constexpr uint32_t kMaxBlockSize = format::kBlockBufferSize;

// Stored: raw blocks. Compressed: every block compressed. Best: each block compressed where that
// saves at least a sixteenth of the stored block, stored otherwise (EncodeBestBlock).
enum class Method { Stored, Compressed, Best };

// InvalidArgument unless 0 < blockSize <= kMaxBlockSize.
Status CheckBlockSize(uint32_t blockSize);

// Appends one block of data[0 .. size) to out, stored or compressed in state, and enciphers its
// body (never its 4-byte header) with password when one is given.
Status AppendEntryBlock(const uint8_t* data, uint32_t size, Method method,
                        const EncoderOptions& options, EncoderState& state, const char* password,
                        std::vector<uint8_t>& out);

}  // namespace pack
