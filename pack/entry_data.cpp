// Entry data: blocks of one method, each body enciphered on its own when the entry has a password.
#include "pack/entry_data.h"

#include "crypto/blowfish.h"

namespace pack {

Status CheckBlockSize(uint32_t blockSize) {
    return blockSize == 0 || blockSize > kMaxBlockSize ? Status::InvalidArgument : Status::Ok;
}

Status AppendEntryBlock(const uint8_t* data, uint32_t size, Method method,
                        const EncoderOptions& options, EncoderState& state, const char* password,
                        std::vector<uint8_t>& out) {
    const size_t start = out.size();
    Status status = Status::Ok;
    switch (method) {
        case Method::Compressed:
            status = encoder::EncodeCompressedBlock(data, size, options, state, out);
            break;
        case Method::Best:
            status = encoder::EncodeBestBlock(data, size, options, state, out);
            break;
        case Method::Stored:
            status = encoder::EncodeStoredBlock(data, size, out);
            break;
    }
    if (status == Status::Ok && password != nullptr) {
        const size_t body = start + format::kBlockHeaderBytes;
        EncryptBuffer(&out[body], static_cast<uint32_t>(out.size() - body), password);
    }
    return status;
}

}  // namespace pack
