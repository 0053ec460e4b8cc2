// Fuzz target: one compressed block body straight into the block decoder. The first two bytes
// give the output area's size (kept small so every input is quick), the rest is the body. The
// body is copied to a buffer of its padded size plus the decoder's read slack, and the output
// area is allocated to its exact size, so any read or write past either is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/compressed_block_decoder.h"

namespace {

constexpr size_t kMaxBody = 1u << 20;

codec::ContextTable g_table;  // 2 MiB, as the decoding run's own; static like it

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size - 2 > kMaxBody) return 0;
    uint32_t capacity = static_cast<uint32_t>(data[0] | (data[1] << 8));
    const uint32_t bodyBytes = static_cast<uint32_t>((size - 2 + 15) & ~size_t{15});
    auto* body = static_cast<uint8_t*>(std::calloc(bodyBytes + codec::BODY_READ_SLACK, 1));
    auto* out = static_cast<uint8_t*>(std::malloc(capacity ? capacity : 1));
    if (body == nullptr || out == nullptr) std::abort();
    std::memcpy(body, data + 2, size - 2);

    uint32_t produced = 0;
    uint32_t bits = 0;
    format::Status status =
        codec::DecodeCompressedBlock(body, bodyBytes, &g_table, out, capacity, &produced, &bits);
    if (status != format::Status::Ok && status != format::Status::Corrupt &&
        status != format::Status::NoMemory) {
        std::abort();
    }
    // A decoded block stays inside its area and its body.
    if (status == format::Status::Ok && (produced > capacity || bits > bodyBytes * 8)) std::abort();
    std::free(body);
    std::free(out);
    return 0;
}
