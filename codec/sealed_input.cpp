// Sealed segments opened one after the other beneath the block reader. A segment that the
// reader wants whole lands in the reader's own buffer and is opened there, in place; a part of a
// segment is served from the segment buffer. Either way its tag is checked before any byte of it
// is handed on.
#include "codec/sealed_input.h"

#include <cstdlib>
#include <cstring>

#include "crypto/aead.h"
#include "crypto/secure_memory.h"

namespace codec {

uint32_t SegmentPlainLength(uint64_t plainBytes, uint64_t segment) {
    const uint64_t start = segment * format::kSegmentPlainBytes;
    if (start >= plainBytes) return 0;
    const uint64_t rest = plainBytes - start;
    return rest < format::kSegmentPlainBytes ? static_cast<uint32_t>(rest)
                                             : format::kSegmentPlainBytes;
}

bool OpenSegment(const SealedEntry& entry, uint64_t segment, const uint8_t* sealed,
                 uint32_t plainLength, uint8_t* plain) {
    if (segment > UINT32_MAX) return false;
    uint8_t nonce[format::kSealNonceBytes];
    const bool last = segment + 1 == format::SegmentCount(entry.plainBytes);
    format::SealNonce(format::kSealSegment, entry.entryIndex, static_cast<uint32_t>(segment), last,
                      nonce);
    uint8_t tag[format::kSealTagBytes];  // the tag may lie where the plain bytes go
    std::memcpy(tag, sealed + plainLength, sizeof tag);
    const AeadMessage message{entry.aad, format::kSealAadBytes, sealed, plain, plainLength};
    return ChaCha20Poly1305Open(entry.key, nonce, message, tag);
}

SealedInput::SealedInput(const EntryInput& sealed, const SealedEntry& entry)
    : sealed_(sealed),
      entry_(entry),
      buffer_(static_cast<uint8_t*>(std::malloc(format::kSegmentSealedBytes))),
      segments_(format::SegmentCount(entry.plainBytes)),
      usable_(segments_ - 1 <= UINT32_MAX) {}

SealedInput::~SealedInput() {
    if (buffer_ != nullptr) SecureWipe(buffer_, format::kSegmentSealedBytes);
    std::free(buffer_);
}

EntryInput SealedInput::Input() {
    return EntryInput{this, Read, sealed_.pollCancel != nullptr ? PollCancel : nullptr};
}

int64_t SealedInput::Read(void* context, void* buffer, uint32_t count) {
    return static_cast<SealedInput*>(context)->ReadPlain(static_cast<uint8_t*>(buffer), count);
}

bool SealedInput::PollCancel(void* context) {
    auto* self = static_cast<SealedInput*>(context);
    return self->sealed_.pollCancel(self->sealed_.context);
}

// Exactly count sealed bytes, or false when the data area ends or fails first.
bool SealedInput::ReadSealed(uint8_t* out, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        const int64_t n = sealed_.read(sealed_.context, out + done, count - done);
        if (n <= 0 || static_cast<uint64_t>(n) > count - done) return false;
        done += static_cast<uint32_t>(n);
    }
    return true;
}

// Opens the next segment: into out when the reader's count takes it and its tag whole, else into
// the segment buffer. Returns the bytes now in out, 0 after the last segment, -1 on failure.
int64_t SealedInput::NextSegment(uint8_t* out, uint32_t count) {
    if (next_ == segments_) return 0;
    const uint32_t plain = SegmentPlainLength(entry_.plainBytes, next_);
    const uint32_t sealedBytes = plain + format::kSealTagBytes;
    const bool direct = count >= sealedBytes;
    uint8_t* at = direct ? out : buffer_;
    if (!ReadSealed(at, sealedBytes)) return -1;
    if (!OpenSegment(entry_, next_, at, plain, at)) {
        tagFailed_ = true;
        return -1;
    }
    ++next_;
    if (direct) return plain;
    held_ = plain;
    used_ = 0;
    return -2;  // held in the buffer
}

int64_t SealedInput::ReadPlain(uint8_t* out, uint32_t count) {
    if (!Ready() || tagFailed_) return -1;
    if (used_ == held_) {
        // Only an empty entry has an empty segment, and its reader asks for no bytes.
        const int64_t opened = NextSegment(out, count);
        if (opened != -2) return opened;
    }
    const uint32_t n = held_ - used_ < count ? held_ - used_ : count;
    std::memcpy(out, buffer_ + used_, n);
    used_ += n;
    return n;
}

bool SealedInput::Finish() {
    if (!Ready() || tagFailed_) return false;
    uint8_t tag[format::kSealTagBytes];
    while (next_ < segments_) {
        if (used_ != held_ || NextSegment(tag, 0) != -2 || held_ != 0) return false;
    }
    return true;
}

}  // namespace codec
