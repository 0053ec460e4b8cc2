// The container's fixed parts as reader and writer both see them: the signature the scan looks
// for, the 24-byte header, the 40-byte entry record, the 12-byte name-table trailer, and the
// limits of the name table. docs/format.md describes the bytes; this is their one definition.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/byte_order.h"

namespace format {

// Enumerators, not variables: they never get storage, so an unoptimised build cannot lay the
// magic and a version word side by side in a program, where the scan of a self-extractor would
// take them for the start of its archive.
enum ArchiveSignature : uint32_t {
    kMagic = 0x4E524F56,  // "VORN", first byte lowest
    kVersionCurrent = 0x8f000002,
    kVersionOld = 0x8f000001,  // recognised, never read beyond its header
};
constexpr uint32_t kFlagLocked = 2;

constexpr uint32_t kHeaderBytes = 24;
constexpr uint32_t kRecordBytes = 40;
constexpr uint32_t kTrailerBytes = 12;
constexpr uint32_t kNameUnitBytes = 16;  // the name table is read, and enciphered, in these
constexpr uint32_t kMaxNameBytes = 255;  // a name's bytes before its NUL
// Paths the library is given (archive, output file, destination folder) and the texts a
// self-extractor shows live in buffers of this size: 255 bytes and the NUL.
constexpr uint32_t kPathBufferBytes = 256;
constexpr uint32_t kMaxPathBytes = kPathBufferBytes - 1;

// The Windows attribute word a record keeps. The bits in kRecordAttributeMask are applied to an
// extracted file; on POSIX only read-only has a meaning there.
enum FileAttribute : uint16_t {
    kAttributeReadOnly = 0x01,
    kAttributeHidden = 0x02,
    kAttributeSystem = 0x04,
    kAttributeArchive = 0x20,  // what a file newly written has
};
constexpr uint32_t kRecordAttributeMask = 0x3f;
inline constexpr char kCommentName[] = "$comments$";

// Whether the 8 bytes at p are the magic followed by a known version word.
inline bool IsArchiveSignature(const uint8_t* p) {
    if (LoadLE32(p) != kMagic) return false;
    uint32_t version = LoadLE32(p + 4);
    return version == kVersionCurrent || version == kVersionOld;
}

struct ArchiveHeader {
    uint32_t magic = kMagic;
    uint32_t version = kVersionCurrent;
    uint64_t entryCount = 0;
    uint32_t flags = 0;
    uint32_t reserved = 0;
};

struct EntryRecord {
    uint8_t encrypted = 0;
    uint16_t attributes = 0;
    uint64_t storedSize = 0;
    uint64_t unpackedSize = 0;
    uint64_t fileTime = 0;
    uint32_t crc = 0;
    uint32_t group = 0;  // bytes 36-39: the solid group (format/solid.h), 0 when none
};

struct NameTrailer {
    uint8_t namesEncrypted = 0;
    uint32_t namesCrc = 0;
    uint32_t namesLength = 0;
};

inline void EncodeHeader(const ArchiveHeader& header, uint8_t* out) {
    StoreLE32(out, header.magic);
    StoreLE32(out + 4, header.version);
    StoreLE64(out + 8, header.entryCount);
    StoreLE32(out + 16, header.flags);
    StoreLE32(out + 20, header.reserved);
}

inline ArchiveHeader DecodeHeader(const uint8_t* bytes) {
    ArchiveHeader header;
    header.magic = LoadLE32(bytes);
    header.version = LoadLE32(bytes + 4);
    header.entryCount = LoadLE64(bytes + 8);
    header.flags = LoadLE32(bytes + 16);
    header.reserved = LoadLE32(bytes + 20);
    return header;
}

// The reserved bytes (0, 4-7) are written as 0 and never read; the group field is written as
// given and read only in archives that allow solid groups.
inline void EncodeRecord(const EntryRecord& record, uint8_t* out) {
    memset(out, 0, kRecordBytes);
    out[1] = record.encrypted;
    StoreLE16(out + 2, record.attributes);
    StoreLE64(out + 8, record.storedSize);
    StoreLE64(out + 16, record.unpackedSize);
    StoreLE64(out + 24, record.fileTime);
    StoreLE32(out + 32, record.crc);
    StoreLE32(out + 36, record.group);
}

inline EntryRecord DecodeRecord(const uint8_t* bytes) {
    EntryRecord record;
    record.encrypted = bytes[1];
    record.attributes = LoadLE16(bytes + 2);
    record.storedSize = LoadLE64(bytes + 8);
    record.unpackedSize = LoadLE64(bytes + 16);
    record.fileTime = LoadLE64(bytes + 24);
    record.crc = LoadLE32(bytes + 32);
    record.group = LoadLE32(bytes + 36);
    return record;
}

inline void EncodeTrailer(const NameTrailer& trailer, uint8_t* out) {
    memset(out, 0, kTrailerBytes);
    out[1] = trailer.namesEncrypted;
    StoreLE32(out + 4, trailer.namesCrc);
    StoreLE32(out + 8, trailer.namesLength);
}

inline NameTrailer DecodeTrailer(const uint8_t* bytes) {
    NameTrailer trailer;
    trailer.namesEncrypted = bytes[1];
    trailer.namesCrc = LoadLE32(bytes + 4);
    trailer.namesLength = LoadLE32(bytes + 8);
    return trailer;
}

}  // namespace format
