// Stored blocks: the raw bytes behind a 4-byte header of type 0, padded to 16 bytes so that an
// enciphered body fills whole cipher blocks and every body starts the reader's 16-byte units.
#include <algorithm>
#include <stdexcept>

#include "pack/archive_layout.h"
#include "pack/block_encoder.h"

namespace pack {

void EncodeStoredBlock(const uint8_t* data, uint32_t size, std::vector<uint8_t>& out) {
    // The header keeps the length in 29 bits above the 3-bit type.
    if (size >= (1u << 29)) throw std::invalid_argument("stored block of 2^29 bytes or more");
    const size_t start = out.size();
    const uint32_t body = RoundUp16(size);
    out.resize(start + 4 + body, 0);
    PutU32(&out[start], size << 3);
    if (size != 0) std::copy(data, data + size, out.begin() + start + 4);
}

}  // namespace pack
