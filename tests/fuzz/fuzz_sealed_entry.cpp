// Fuzz target: the layer beneath the block reader of a sealed entry. The input's tail is an
// entry's plain stored data (its blocks); the target seals it into segments under a fixed key,
// as a writer would, optionally flips one sealed bit, and decodes it through the segment layer
// into a sink. Input: u32 flip (bit index into the sealed bytes; all ones: none), u32 claimed
// unpacked size (at most 1 MiB), then the plain stored data.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/entry_run.h"
#include "codec/sealed_input.h"
#include "crypto/aead.h"
#include "format/byte_order.h"

namespace {

const uint8_t kKey[format::kSealKeyBytes] = {7, 1, 7, 1};
const uint8_t kAad[format::kSealAadBytes] = {'V', 'O', 'R', 'N'};
constexpr uint64_t kEntryIndex = 3;

std::vector<uint8_t> Seal(const uint8_t* plain, size_t size) {
    std::vector<uint8_t> sealed;
    const uint64_t segments = format::SegmentCount(size);
    for (uint64_t s = 0; s < segments; ++s) {
        const uint32_t length = codec::SegmentPlainLength(size, s);
        uint8_t nonce[format::kSealNonceBytes];
        format::SealNonce(format::kSealSegment, kEntryIndex, static_cast<uint32_t>(s),
                          s + 1 == segments, nonce);
        const size_t at = sealed.size();
        sealed.resize(at + length + format::kSealTagBytes);
        const AeadMessage m{kAad, sizeof kAad, plain + s * format::kSegmentPlainBytes,
                            sealed.data() + at, length};
        ChaCha20Poly1305Seal(kKey, nonce, m, sealed.data() + at + length);
    }
    return sealed;
}

struct Reader {
    const std::vector<uint8_t>* bytes;
    size_t at;
};

int64_t Read(void* context, void* buffer, uint32_t count) {
    auto* r = static_cast<Reader*>(context);
    size_t n = r->bytes->size() - r->at;
    if (n > count) n = count;
    std::memcpy(buffer, r->bytes->data() + r->at, n);
    r->at += n;
    return static_cast<int64_t>(n);
}

bool Count(void* total, const uint8_t*, uint32_t count) {
    *static_cast<uint64_t*>(total) += count;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    const uint32_t flip = format::LoadLE32(data);
    const uint64_t unpacked = format::LoadLE32(data + 4) & ((1u << 20) - 1);
    std::vector<uint8_t> sealed = Seal(data + 8, size - 8);
    const bool flipped = flip != UINT32_MAX;
    if (flipped) sealed[(flip / 8) % sealed.size()] ^= static_cast<uint8_t>(1u << (flip % 8));
    Reader reader{&sealed, 0};
    codec::SealedInput input(codec::EntryInput{&reader, Read, nullptr},
                             codec::SealedEntry{kKey, kAad, kEntryIndex, size - 8});
    if (!input.Ready()) std::abort();
    uint64_t delivered = 0;
    codec::EntryRun run{};
    run.storedSize = size - 8;
    run.unpackedSize = unpacked;
    run.lzBlocks = true;
    run.sink = codec::BlockSink{Count, &delivered};
    format::Status status = codec::DecodeEntry(input.Input(), run);
    if (delivered > unpacked) std::abort();
    // A run that succeeds has opened every segment: a changed sealed bit never gets through.
    const bool finished = status == format::Status::Ok && input.Finish();
    if (flipped && finished) std::abort();
    if (!flipped && status == format::Status::Ok && !finished) std::abort();
    return 0;
}
