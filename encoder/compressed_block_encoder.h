// Writing a parsed block: the compressed block (header and padded body) for a token sequence.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/compress_parse.h"
#include "format/status.h"

namespace encoder {

// Appends the compressed block that decodes to the bytes tokens describe. The tokens must be
// valid for the decoder's context table (as every parser here makes them). InvalidArgument,
// appending nothing, when the bit stream would be longer than a block header can say.
format::Status EncodeTokens(const std::vector<Token>& tokens, std::vector<uint8_t>& out);

}  // namespace encoder
