// Stored blocks: the raw bytes behind a 4-byte header of type 0, padded to 16 bytes so that an
// enciphered body fills whole cipher blocks and every body starts the reader's 16-byte units.
#include <algorithm>

#include "encoder/block_encoder.h"
#include "format/block.h"

namespace encoder {

Status EncodeStoredBlock(const uint8_t* data, uint32_t size, std::vector<uint8_t>& out) {
    if (size > format::kMaxBlockLength) return Status::InvalidArgument;
    const size_t start = out.size();
    out.resize(start + format::kBlockHeaderBytes + format::RoundUp16(size), 0);
    format::EncodeBlockHeader(format::BlockHeader{format::kBlockStored, size}, &out[start]);
    if (size != 0) std::copy(data, data + size, out.begin() + start + format::kBlockHeaderBytes);
    return Status::Ok;
}

}  // namespace encoder
