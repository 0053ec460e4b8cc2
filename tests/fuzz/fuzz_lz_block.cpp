// Fuzz target: one LZ block (type 2) straight into its decoder. The first two bytes give the
// output area's size (kept small so every input is quick), the third how many bits short of the
// padded body the header says the stream is (a header that lies about its length); the rest is
// the body: block size and filter flags, segments of code lengths and tokens. The body sits in a
// buffer of its padded size plus the decoder's read slack and the output area has its exact size,
// so any read or write past either is caught; a decoded block is checked to stay inside them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/compressed_block_decoder.h"
#include "codec/lz_block_decoder.h"

namespace {

constexpr size_t kMaxBody = 1u << 20;

// Garbage-filled once: the decoder must build every table it reads.
codec::LzDecodeTables* Tables() {
    static codec::LzDecodeTables* tables = [] {
        auto* t = static_cast<codec::LzDecodeTables*>(std::malloc(sizeof(codec::LzDecodeTables)));
        std::memset(static_cast<void*>(t), 0xA5, sizeof(codec::LzDecodeTables));
        return t;
    }();
    return tables;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size - 3 > kMaxBody) return 0;
    const uint32_t capacity = static_cast<uint32_t>(data[0] | (data[1] << 8));
    const uint32_t shortBy = data[2];
    const uint32_t bodyBytes = static_cast<uint32_t>((size - 3 + 15) & ~size_t{15});
    const uint32_t streamBits = bodyBytes * 8 > shortBy ? bodyBytes * 8 - shortBy : 0;
    auto* body = static_cast<uint8_t*>(std::calloc(bodyBytes + codec::BODY_READ_SLACK, 1));
    auto* out = static_cast<uint8_t*>(std::malloc(capacity ? capacity : 1));
    if (body == nullptr || out == nullptr) std::abort();
    std::memcpy(body, data + 3, size - 3);

    uint32_t produced = 0;
    format::Status status =
        codec::DecodeLzBlock(body, bodyBytes, streamBits, Tables(), out, capacity, &produced);
    if (status != format::Status::Ok && status != format::Status::Corrupt) std::abort();
    if (status == format::Status::Ok && (produced == 0 || produced > capacity)) std::abort();
    std::free(body);
    std::free(out);
    return 0;
}
