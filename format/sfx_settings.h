// The self-extractor's settings chosen at packing: one block in the stub's initialised data, right
// behind the built-in destination and behind a marker of its own, which the packer fills in in its
// copy of the stub. The block is a list of records, each a tag byte, a 16-bit little-endian length
// and that many bytes; a zero tag ends the list, so a stub as built (all zeros) has no settings.
// A reader skips tags it does not know, so a newer packer's settings never stop an older tool
// from listing the rest. Reader and writer both use this header; the reader works on plain bytes
// and pointers into them, as the Windows stub needs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/byte_order.h"

namespace format {

// The marker's bytes, its closing NUL included. Nothing else in a stub may hold them.
#define VORN_SFX_SETTINGS_MARKER "vorn:sfx-settings:2b7d41e6"
constexpr size_t kSfxSettingsMarkerBytes = sizeof VORN_SFX_SETTINGS_MARKER;
// The whole block, records and the closing zero tag: the cap on everything chosen at packing.
constexpr size_t kSfxSettingsBytes = 2048;
constexpr size_t kSfxRecordHeadBytes = 3;  // tag, 16-bit length

// Record tags. A new setting takes the next free number; numbers are never reused.
enum SfxSettingTag : uint8_t {
    kSfxTagEnd = 0,        // no bytes: the list ends here
    kSfxTagRun = 1,        // the program line: UTF-8, no NUL, no control characters
    kSfxTagTemporary = 2,  // no bytes: extract into a new temporary folder, removed afterwards
    kSfxTagOverwrite = 3,  // one byte, an SfxOverwrite
    kSfxTagTitle = 4,      // the main dialog's caption: UTF-8, no NUL, no control characters
};

// The starting state of the overwrite question.
enum class SfxOverwrite : uint8_t { Ask = 0, Always = 1, Never = 2 };

constexpr size_t kMaxSfxRunLineBytes = 1024;

// Every setting one block can hold, decoded. Texts point into the block and are not terminated.
struct SfxSettings {
    const char* run = nullptr;  // null: nothing runs after extraction
    size_t runLength = 0;
    bool temporary = false;
    SfxOverwrite overwrite = SfxOverwrite::Ask;
    const char* title = nullptr;  // null: the dialog keeps its own caption
    size_t titleLength = 0;
};

constexpr size_t kMaxSfxTitleBytes = 255;

// A title holds no control bytes and is neither empty nor longer than its cap.
inline bool IsSfxTitle(const uint8_t* bytes, size_t length) {
    if (length == 0 || length > kMaxSfxTitleBytes) return false;
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] < 0x20 || bytes[i] == 0x7f) return false;
    }
    return true;
}

enum class SfxSettingsStatus {
    Ok,
    Truncated,  // a record runs past the block, or no end tag
    Repeated,   // a known tag twice
    BadValue,   // a known tag with a length or value it cannot have
};

// One record of block (size bytes) at *offset; advances *offset past it. False at the end tag or
// when the record does not fit (then *offset stays).
struct SfxRecord {
    uint8_t tag;
    uint16_t length;
    const uint8_t* bytes;
};
inline bool NextSfxRecord(const uint8_t* block, size_t size, size_t* offset, SfxRecord* out) {
    size_t at = *offset;
    if (at >= size || block[at] == kSfxTagEnd) return false;
    if (size - at < kSfxRecordHeadBytes) return false;
    uint16_t length = LoadLE16(block + at + 1);
    if (size - at - kSfxRecordHeadBytes < length) return false;
    out->tag = block[at];
    out->length = length;
    out->bytes = block + at + kSfxRecordHeadBytes;
    *offset = at + kSfxRecordHeadBytes + length;
    return true;
}

// A program line holds no control bytes and is neither empty nor longer than its cap.
inline bool IsSfxRunLine(const uint8_t* bytes, size_t length) {
    if (length == 0 || length > kMaxSfxRunLineBytes) return false;
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] < 0x20 || bytes[i] == 0x7f) return false;
    }
    return true;
}

// Decodes every known setting of block into *out; unknown tags are passed over.
inline SfxSettingsStatus ReadSfxSettings(const uint8_t* block, size_t size, SfxSettings* out) {
    *out = SfxSettings();
    bool seenRun = false, seenTemporary = false, seenOverwrite = false, seenTitle = false;
    size_t offset = 0;
    SfxRecord record;
    while (NextSfxRecord(block, size, &offset, &record)) {
        bool* seen = record.tag == kSfxTagRun         ? &seenRun
                     : record.tag == kSfxTagTemporary ? &seenTemporary
                     : record.tag == kSfxTagOverwrite ? &seenOverwrite
                     : record.tag == kSfxTagTitle     ? &seenTitle
                                                      : nullptr;
        if (seen == nullptr) continue;
        if (*seen) return SfxSettingsStatus::Repeated;
        *seen = true;
        if (record.tag == kSfxTagRun) {
            if (!IsSfxRunLine(record.bytes, record.length)) return SfxSettingsStatus::BadValue;
            out->run = reinterpret_cast<const char*>(record.bytes);
            out->runLength = record.length;
        } else if (record.tag == kSfxTagTemporary) {
            if (record.length != 0) return SfxSettingsStatus::BadValue;
            out->temporary = true;
        } else if (record.tag == kSfxTagTitle) {
            if (!IsSfxTitle(record.bytes, record.length)) return SfxSettingsStatus::BadValue;
            out->title = reinterpret_cast<const char*>(record.bytes);
            out->titleLength = record.length;
        } else {
            if (record.length != 1 || record.bytes[0] > 2) return SfxSettingsStatus::BadValue;
            out->overwrite = static_cast<SfxOverwrite>(record.bytes[0]);
        }
    }
    // The walk stopped at the end tag, or at a record that does not fit.
    if (offset >= size || block[offset] != kSfxTagEnd) return SfxSettingsStatus::Truncated;
    return SfxSettingsStatus::Ok;
}

// The program line: words separated by spaces or tabs; a double quote starts or ends a stretch in
// which spaces belong to the word, and is itself dropped. Nothing else is special: no escapes, no
// variables, no globbing. Copies the word that starts at or after *offset into out (capacity
// bytes, NUL included) and advances *offset past it. False when no word is left or it does not fit.
inline bool NextProgramWord(const char* line, size_t length, size_t* offset, char* out,
                            size_t capacity) {
    size_t at = *offset;
    while (at < length && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at >= length) return false;
    size_t used = 0;
    bool quoted = false;
    for (; at < length && (quoted || (line[at] != ' ' && line[at] != '\t')); ++at) {
        if (line[at] == '"') {
            quoted = !quoted;
            continue;
        }
        if (used + 1 >= capacity) return false;
        out[used++] = line[at];
    }
    if (capacity == 0) return false;
    out[used] = '\0';
    *offset = at;
    return true;
}

}  // namespace format
