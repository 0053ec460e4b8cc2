// The LZ block encoder (block type 2): splits a block into segments, parses each at the least
// price, sends each segment's code lengths and tokens, and applies the x86 branch filter to the
// block when its bytes look like code.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "format/status.h"

namespace encoder {

struct LzEncoderSettings {
    uint32_t niceLength = 128;         // a match this long is taken at once
    uint32_t searchDepth = 48;         // tree nodes a match search visits at most
    uint32_t segmentBytes = 1u << 17;  // input bytes per segment of codes
    uint32_t passes = 2;               // parses per segment, each priced by the one before
};

class LzEncoderState;

// One thread's encoder: its match finder and buffers live from block to block.
class LzBlockEncoder {
  public:
    explicit LzBlockEncoder(const LzEncoderSettings& settings = LzEncoderSettings());
    ~LzBlockEncoder();
    LzBlockEncoder(const LzBlockEncoder&) = delete;
    LzBlockEncoder& operator=(const LzBlockEncoder&) = delete;

    // Appends the LZ block (header and padded body) of data[0 .. size), 0 < size <= 8 MiB.
    // InvalidArgument, appending nothing, for other sizes or a body beyond the reader's 8 MiB
    // buffer; the caller stores such data.
    format::Status Encode(const uint8_t* data, uint32_t size, std::vector<uint8_t>& out);

  private:
    std::unique_ptr<LzEncoderState> state_;
};

// Whether the x86 filter is worth applying to data: counts the calls and jumps whose target lies
// inside the block.
bool LzLooksLikeX86(const uint8_t* data, uint32_t size);

}  // namespace encoder
