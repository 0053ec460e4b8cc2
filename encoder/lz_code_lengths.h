// Code lengths for the LZ block's canonical codes: Huffman's lengths for the symbol counts, kept
// within a longest code by halving the counts until they fit.
#pragma once

#include <cstdint>

namespace encoder {

// Fills lengths[0 .. count) (count at most 512): 0 for symbols of count 0, otherwise at most
// maxLength (at least 1, with 2^maxLength >= the symbols used). A single used symbol gets length
// 1; the lengths of two or more used symbols fill the code space exactly.
void LimitedCodeLengths(const uint32_t* counts, uint32_t count, uint32_t maxLength,
                        uint8_t* lengths);

}  // namespace encoder
