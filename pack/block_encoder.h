// Block encoding for the writer: one stored or compressed block, its 4-byte header followed by its
// body padded to a multiple of 16 bytes. Enciphering the body is the writer's job, not this one's.
#pragma once

#include <cstdint>
#include <vector>

namespace pack {

struct EncoderOptions {
    int level = 2;  // 1 = greedy longest match; higher levels search harder
};

// Appends one compressed block of data[0 .. size) to out. size is at most 8 MiB. Throws
// std::length_error, appending nothing, when the body would exceed the reader's 8 MiB buffer
// (incompressible data close to 8 MiB); EncodeBestBlock stores such data instead.
void EncodeCompressedBlock(const uint8_t* data, uint32_t size, const EncoderOptions& options,
                           std::vector<uint8_t>& out);

// Appends whichever of the compressed and the stored block of data[0 .. size) takes fewer bytes,
// the stored one on a tie, so incompressible data never grows beyond the stored block's framing
// and a compressed body never exceeds the decoder's 8 MiB read buffer. size is at most 8 MiB.
void EncodeBestBlock(const uint8_t* data, uint32_t size, const EncoderOptions& options,
                     std::vector<uint8_t>& out);

// Appends one stored block of data[0 .. size) to out. size is below 2^29.
void EncodeStoredBlock(const uint8_t* data, uint32_t size, std::vector<uint8_t>& out);

}  // namespace pack
