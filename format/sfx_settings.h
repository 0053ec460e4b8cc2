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
#include "format/text_bytes.h"

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
    kSfxTagLicense = 5,    // no bytes: the licence (entry kLicenseName) must be accepted first
    // The archive is a file of its own beside the program: its 64-bit little-endian size, its
    // SHA-256 (32 bytes) and its file name (a plain name, no folder), so that a signature of the
    // program covers the archive too.
    kSfxTagBeside = 6,
};

// The licence's text lives in the archive, not in this block (which it would not fit): an entry of
// this name, UTF-8, at most kMaxLicenseBytes. Only while kSfxTagLicense is set is that entry the
// licence; then it is never extracted as a file.
inline constexpr char kLicenseName[] = "$license$";
constexpr size_t kMaxLicenseBytes = 1u << 20;

// How existing files are treated: the starting state of the overwrite question in a
// self-extractor, and the vorn tool's choice when extracting. The numbers are stored.
enum class SfxOverwrite : uint8_t { Ask = 0, Always = 1, Never = 2 };

// The one table of their names, as the command lines take them and the listings show them.
inline const char* SfxOverwriteName(SfxOverwrite overwrite) {
    static const char* const kNames[] = {"ask", "always", "never"};
    return kNames[static_cast<uint8_t>(overwrite) % 3];
}

// The choice named text ("ask", "always", "never"; with anyCase in any case); false for any other.
inline bool ParseSfxOverwrite(const char* text, bool anyCase, SfxOverwrite* out) {
    for (uint8_t value = 0; value < 3; ++value) {
        const char* name = SfxOverwriteName(static_cast<SfxOverwrite>(value));
        size_t i = 0;
        for (; name[i] != '\0'; ++i) {
            char c = text[i];
            if (anyCase && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != name[i]) break;
        }
        if (name[i] == '\0' && text[i] == '\0') {
            *out = static_cast<SfxOverwrite>(value);
            return true;
        }
    }
    return false;
}

constexpr size_t kMaxSfxRunLineBytes = 1024;

// Every setting one block can hold, decoded. Texts point into the block and are not terminated.
struct SfxSettings {
    const char* run = nullptr;  // null: nothing runs after extraction
    size_t runLength = 0;
    bool temporary = false;
    SfxOverwrite overwrite = SfxOverwrite::Ask;
    bool overwriteStored = false;  // a record names it, "ask" included
    const char* title = nullptr;   // null: the dialog keeps its own caption
    size_t titleLength = 0;
    bool license = false;  // a licence is packed and must be accepted before anything is extracted
    const char* besideName = nullptr;  // null: the archive follows the program in its own file
    size_t besideNameLength = 0;
    uint64_t besideSize = 0;
    const uint8_t* besideHash = nullptr;  // kSfxBesideHashBytes
};

constexpr size_t kSfxBesideHashBytes = 32;
constexpr size_t kSfxBesideHeadBytes = 8 + kSfxBesideHashBytes;
constexpr size_t kMaxSfxBesideNameBytes = 255;

// The beside archive's file name: a plain name in the program's folder, no separator, no drive,
// no control byte, not "." or "..".
inline bool IsSfxBesideName(const uint8_t* bytes, size_t length) {
    if (length == 0 || length > kMaxSfxBesideNameBytes || HasControlByte(bytes, length)) {
        return false;
    }
    if (bytes[0] == '.' && (length == 1 || (length == 2 && bytes[1] == '.'))) return false;
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] == '/' || bytes[i] == '\\' || bytes[i] == ':') return false;
    }
    return true;
}

constexpr size_t kMaxSfxTitleBytes = 255;

// Whether the entry called name is the licence of a self-extractor with these settings.
inline bool IsLicenseEntry(const SfxSettings& settings, const char* name) {
    if (!settings.license) return false;
    size_t i = 0;
    for (; kLicenseName[i] != '\0' && name[i] == kLicenseName[i]; ++i) {
    }
    return kLicenseName[i] == '\0' && name[i] == '\0';
}

// A title holds no control bytes and is neither empty nor longer than its cap.
inline bool IsSfxTitle(const uint8_t* bytes, size_t length) {
    return length != 0 && length <= kMaxSfxTitleBytes && !HasControlByte(bytes, length);
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
    return length != 0 && length <= kMaxSfxRunLineBytes && !HasControlByte(bytes, length);
}

// Decodes every known setting of block into *out; unknown tags are passed over.
inline SfxSettingsStatus ReadSfxSettings(const uint8_t* block, size_t size, SfxSettings* out) {
    *out = SfxSettings();
    bool seenRun = false, seenTemporary = false, seenOverwrite = false, seenTitle = false,
         seenLicense = false, seenBeside = false;
    size_t offset = 0;
    SfxRecord record;
    while (NextSfxRecord(block, size, &offset, &record)) {
        bool* seen = record.tag == kSfxTagRun         ? &seenRun
                     : record.tag == kSfxTagTemporary ? &seenTemporary
                     : record.tag == kSfxTagOverwrite ? &seenOverwrite
                     : record.tag == kSfxTagTitle     ? &seenTitle
                     : record.tag == kSfxTagLicense   ? &seenLicense
                     : record.tag == kSfxTagBeside    ? &seenBeside
                                                      : nullptr;
        if (seen == nullptr) continue;
        if (*seen) return SfxSettingsStatus::Repeated;
        *seen = true;
        if (record.tag == kSfxTagRun) {
            if (!IsSfxRunLine(record.bytes, record.length)) return SfxSettingsStatus::BadValue;
            out->run = reinterpret_cast<const char*>(record.bytes);
            out->runLength = record.length;
        } else if (record.tag == kSfxTagTemporary || record.tag == kSfxTagLicense) {
            if (record.length != 0) return SfxSettingsStatus::BadValue;
            (record.tag == kSfxTagTemporary ? out->temporary : out->license) = true;
        } else if (record.tag == kSfxTagTitle) {
            if (!IsSfxTitle(record.bytes, record.length)) return SfxSettingsStatus::BadValue;
            out->title = reinterpret_cast<const char*>(record.bytes);
            out->titleLength = record.length;
        } else if (record.tag == kSfxTagBeside) {
            if (record.length <= kSfxBesideHeadBytes ||
                !IsSfxBesideName(record.bytes + kSfxBesideHeadBytes,
                                 record.length - kSfxBesideHeadBytes)) {
                return SfxSettingsStatus::BadValue;
            }
            out->besideSize = LoadLE64(record.bytes);
            out->besideHash = record.bytes + 8;
            out->besideName = reinterpret_cast<const char*>(record.bytes + kSfxBesideHeadBytes);
            out->besideNameLength = record.length - kSfxBesideHeadBytes;
        } else {
            if (record.length != 1 || record.bytes[0] > 2) return SfxSettingsStatus::BadValue;
            out->overwrite = static_cast<SfxOverwrite>(record.bytes[0]);
            out->overwriteStored = true;
        }
    }
    // The walk stopped at the end tag, or at a record that does not fit.
    if (offset >= size || block[offset] != kSfxTagEnd) return SfxSettingsStatus::Truncated;
    return SfxSettingsStatus::Ok;
}

// The writer's side of ReadSfxSettings: the records of settings (the program line, the temporary
// folder, the overwrite choice when stored, the title, the licence, the beside archive, in that
// order) and the end tag, into block (capacity bytes). Returns the length the block needs, written
// only when it fits capacity, or 0 when a value is one the reader would refuse.
inline size_t WriteSfxSettings(const SfxSettings& settings, uint8_t* block, size_t capacity) {
    const auto* run = reinterpret_cast<const uint8_t*>(settings.run);
    const auto* title = reinterpret_cast<const uint8_t*>(settings.title);
    uint8_t overwrite = static_cast<uint8_t>(settings.overwrite);
    if ((run != nullptr && !IsSfxRunLine(run, settings.runLength)) ||
        (title != nullptr && !IsSfxTitle(title, settings.titleLength)) || overwrite > 2) {
        return 0;
    }
    const auto* besideName = reinterpret_cast<const uint8_t*>(settings.besideName);
    if (besideName != nullptr && (settings.besideHash == nullptr ||
                                  !IsSfxBesideName(besideName, settings.besideNameLength))) {
        return 0;
    }
    size_t at = 0;
    auto record = [&](uint8_t tag, const uint8_t* bytes, size_t length) {
        if (at + kSfxRecordHeadBytes + length <= capacity) {
            block[at] = tag;
            StoreLE16(block + at + 1, static_cast<uint16_t>(length));
            for (size_t i = 0; i < length; ++i) block[at + kSfxRecordHeadBytes + i] = bytes[i];
        }
        at += kSfxRecordHeadBytes + length;
    };
    if (run != nullptr) record(kSfxTagRun, run, settings.runLength);
    if (settings.temporary) record(kSfxTagTemporary, nullptr, 0);
    if (settings.overwriteStored) record(kSfxTagOverwrite, &overwrite, 1);
    if (title != nullptr) record(kSfxTagTitle, title, settings.titleLength);
    if (settings.license) record(kSfxTagLicense, nullptr, 0);
    if (besideName != nullptr) {
        uint8_t beside[kSfxBesideHeadBytes + kMaxSfxBesideNameBytes];
        StoreLE64(beside, settings.besideSize);
        for (size_t i = 0; i < kSfxBesideHashBytes; ++i) beside[8 + i] = settings.besideHash[i];
        for (size_t i = 0; i < settings.besideNameLength; ++i) {
            beside[kSfxBesideHeadBytes + i] = besideName[i];
        }
        record(kSfxTagBeside, beside, kSfxBesideHeadBytes + settings.besideNameLength);
    }
    if (at < capacity) block[at] = kSfxTagEnd;
    return at + 1;
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
