// What a block encoder reuses from one block to the next: the replay of the decoder's context
// table (over 2 MiB), the trial encoding that a stored block may replace, and level 3's match
// finder and parse buffers. Allocating these per block would cost more than encoding a small
// block, so a state serves block after block; it serves one block at a time, and the writer
// borrows one per block from a pool of them.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/compress_context.h"
#include "encoder/lz_block_encoder.h"

namespace encoder {

struct EncoderState {
    ContextModel contexts;
    std::vector<uint8_t> trial;  // EncodeBestBlock's compressed attempt
    LzEncoderState lz;           // level 3's match finder and parse buffers
};

}  // namespace encoder
