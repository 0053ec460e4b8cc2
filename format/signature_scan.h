// Finding an archive inside a file: the first offset that holds the magic followed by a known
// version word. A self-extractor's archive follows its program image, so every reader and the
// writer look for it the same way: the library when it opens, the writer when it checks that a
// stub holds no signature, the tool when it explains a failed open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "format/container.h"

namespace format {

constexpr size_t kSignatureBytes = 8;

// The offset of the first whole signature in bytes[0 .. size), or size when there is none. The
// magic begins with "V", so searching for that byte skips most offsets at the speed of memchr.
inline size_t FindSignature(const uint8_t* bytes, size_t size) {
    if (size < kSignatureBytes) return size;
    const uint8_t* at = bytes;
    const uint8_t* end = bytes + size - kSignatureBytes + 1;  // past the last whole window
    while (at < end) {
        const void* hit = std::memchr(at, 'V', static_cast<size_t>(end - at));
        if (hit == nullptr) break;
        at = static_cast<const uint8_t*>(hit);
        if (IsArchiveSignature(at)) return static_cast<size_t>(at - bytes);
        ++at;
    }
    return size;
}

// The same search over a file read in slices of any size, fed in order and without overlap: the
// last 7 bytes of each slice are kept, so a signature across two slices is found too.
class SignatureScan {
  public:
    // Looks at the next slice of the file; true once a signature has been found (Offset()).
    bool Feed(const uint8_t* bytes, size_t size) {
        if (found_) return true;
        if (Stitch(bytes, size)) return true;
        const size_t at = FindSignature(bytes, size);
        if (at != size) return Found(consumed_ + at);
        KeepTail(bytes, size);
        consumed_ += size;
        return false;
    }
    bool Found() const { return found_; }
    // The signature's offset in the file.
    uint64_t Offset() const { return offset_; }

  private:
    static constexpr size_t kTail = kSignatureBytes - 1;

    bool Found(uint64_t offset) {
        found_ = true;
        offset_ = offset;
        return true;
    }

    // A signature that starts in the kept tail and ends in the new slice.
    bool Stitch(const uint8_t* bytes, size_t size) {
        if (tailSize_ == 0) return false;
        uint8_t joined[2 * kTail];
        const size_t taken = size < kTail ? size : kTail;
        std::memcpy(joined, tail_, tailSize_);
        std::memcpy(joined + tailSize_, bytes, taken);
        const size_t at = FindSignature(joined, tailSize_ + taken);
        return at < tailSize_ && Found(consumed_ - tailSize_ + at);
    }

    void KeepTail(const uint8_t* bytes, size_t size) {
        if (size >= kTail) {
            std::memcpy(tail_, bytes + size - kTail, kTail);
            tailSize_ = kTail;
            return;
        }
        const size_t keep = tailSize_ + size > kTail ? kTail - size : tailSize_;
        std::memmove(tail_, tail_ + tailSize_ - keep, keep);
        std::memcpy(tail_ + keep, bytes, size);
        tailSize_ = keep + size;
    }

    uint8_t tail_[kTail] = {};
    size_t tailSize_ = 0;
    uint64_t consumed_ = 0;  // bytes fed before the current slice
    bool found_ = false;
    uint64_t offset_ = 0;
};

}  // namespace format
