// The layer beneath the block parsing of a sealed entry: the entry's data area is a run of
// sealed segments (format/sealed.h), each of 64 KiB plain bytes but the last, followed by its
// tag. A SealedInput reads the segments through the entry's own input, checks each tag before a
// byte of its segment is used and hands the block reader the plain stored data, so that every
// block type reads as it does in any archive.
#pragma once

#include <cstdint>

#include "codec/entry_run.h"
#include "format/sealed.h"

namespace codec {

// What opens an entry's segments: the key, the archive's associated data, the entry's index (its
// nonces) and the length of its plain stored data.
struct SealedEntry {
    const uint8_t* key;  // format::kSealKeyBytes
    const uint8_t* aad;  // format::kSealAadBytes
    uint64_t entryIndex;
    uint64_t plainBytes;
};

// The plain length of segment `segment` of an entry of plainBytes stored bytes.
uint32_t SegmentPlainLength(uint64_t plainBytes, uint64_t segment);

// Opens one segment: sealed holds its plainLength bytes and its tag. The plain bytes go to plain,
// which may be sealed itself; false (nothing written) when the tag fails.
bool OpenSegment(const SealedEntry& entry, uint64_t segment, const uint8_t* sealed,
                 uint32_t plainLength, uint8_t* plain);

// An EntryInput over the sealed data area of an entry. The sealed input is read sequentially
// from the data area's start; a cut area or a failed tag ends the reading with an error, which
// the block reader turns into Corrupt, and TagFailed tells the two apart.
class SealedInput {
  public:
    SealedInput(const EntryInput& sealed, const SealedEntry& entry);
    ~SealedInput();
    SealedInput(const SealedInput&) = delete;
    SealedInput& operator=(const SealedInput&) = delete;

    // False when the segment buffer could not be had, or the entry has more segments than the
    // nonce can number.
    bool Ready() const { return buffer_ != nullptr && usable_; }
    EntryInput Input();
    bool TagFailed() const { return tagFailed_; }
    // After a run that read every plain byte: opens what segments are left, which only the one
    // empty segment of an empty entry can be, so that its tag is checked too. False when
    // sealed bytes are left over or a tag fails.
    bool Finish();

  private:
    static int64_t Read(void* context, void* buffer, uint32_t count);
    static bool PollCancel(void* context);
    int64_t ReadPlain(uint8_t* out, uint32_t count);
    bool ReadSealed(uint8_t* out, uint32_t count);
    int64_t NextSegment(uint8_t* out, uint32_t count);

    EntryInput sealed_;
    SealedEntry entry_;
    uint8_t* buffer_;  // one sealed segment
    uint32_t held_ = 0;
    uint32_t used_ = 0;
    uint64_t next_ = 0;  // the next segment to open
    uint64_t segments_;
    bool usable_;
    bool tagFailed_ = false;
};

}  // namespace codec
