// The archive handle behind the void* of the vorn_ calls, and the library's internal lookups.
// Besides the copies of header and trailer, the handle keeps what the open's one walk learned
// (every record's offset) and the name table as read once at open (plain, deciphered when
// enciphered) with an index of name starts and a hash from name to first index, so that
// enumeration and lookups cost the same on the millionth entry as on the first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/vorn.h"
#include "codec/entry_run.h"
#include "platform/platform.h"

namespace archive {

// Enumerators, not variables: they never get storage, so an unoptimised build cannot lay the magic
// and a version word side by side in the program, where the scan of a self-extractor would take
// them for the start of its archive.
enum ArchiveSignature : uint32_t {
    kMagic = 0x4E524F56,  // "VORN", first byte lowest
    kVersionCurrent = 0x8f000002,
    kVersionOld = 0x8f000001,
};
constexpr uint32_t kFlagLocked = 2;

constexpr uint32_t kHeaderSize = 24;
constexpr uint32_t kRecordSize = 40;
constexpr uint32_t kTrailerSize = 12;
constexpr uint32_t kNameUnit = 16;
constexpr uint32_t kMaxPath = 256;      // 255 characters and the NUL
constexpr uint32_t kMaxPassword = 260;  // 259 characters and the NUL
constexpr uint32_t kMaxNameBytes = 255;
constexpr uint16_t kLongName = 256;

struct ArchiveHeader {
    uint32_t dwMagic;
    uint32_t dwVersion;
    uint64_t qwEntryCount;
    uint32_t dwFlags;
    uint32_t dwReserved;
};

struct NameTrailer {
    uint8_t bReserved;
    uint8_t bNamesEncrypted;
    uint16_t wReserved;
    uint32_t dwNamesCrc;
    uint32_t dwNamesLength;
};

struct EntryRecord {
    uint8_t bEncrypted;
    uint16_t wAttributes;
    uint64_t qwStoredSize;
    uint64_t qwUnpackedSize;
    uint64_t qwFileTime;
    uint32_t dwCrc;
};

// Answers the free space of a folder's volume; false when the query fails.
typedef bool (*FreeSpaceQuery)(const char* folder, uint64_t* bytes);

struct ArchiveHandle {
    char szPath[kMaxPath];
    int archiveFd;
    int outputFd;
    uint32_t dwOpenMode;
    uint64_t qwBaseOffset;
    ArchiveHeader header;
    NameTrailer trailer;
    uint64_t qwTrailerOffset;
    const char* pszOperationPassword;
    char szArchivePassword[kMaxPassword];
    uint64_t qwNextEntryOffset;  // enumeration cursor, all ones when none
    uint64_t qwNextEntryIndex;
    platform::CancelEvent* cancelEvent;

    uint64_t qwFileLength;
    // Offsets of the records the open walked; the walk succeeds only when it reads all of
    // them, so there are header.qwEntryCount of them for a current-format archive.
    uint64_t* recordOffsets;
    uint64_t qwRecordCount;
    // The name table's whole 16-byte units, plain.
    uint8_t* names;
    size_t namesSize;
    // nameStarts[i] is where name i starts, for the names below the entry count whose NUL lies
    // inside the table; nameHash maps each such name of at most 255 bytes to its first index.
    size_t* nameStarts;
    uint16_t* nameLengths;  // kLongName for a run of more than 255 bytes
    uint64_t qwIndexedNames;
    size_t tailStart;    // where the first name that is not indexed starts
    uint64_t* nameHash;  // slots hold index + 1, 0 when empty
    size_t hashMask;

    // Where the extraction calls learn the free space; replaceable by tests.
    FreeSpaceQuery queryFreeSpace;

    // A file extraction's staging area, mapped by the first one and kept until the close: mapped
    // afresh for every entry it costs a page fault per page each time, two thousand for every
    // 8 MiB entry.
    uint8_t* staging;
    // The decoding runs' read buffer and context table, kept the same way: a run of a small entry
    // otherwise spends most of its time faulting in fresh pages of the table. Calls on a handle
    // come from one thread at a time, so its runs never overlap.
    codec::RunMemory runMemory;
};

// Sink of a file extraction: receives one block's output; false when not all of it was stored.
typedef bool (*EntrySink)(void* handle, const uint8_t* bytes, uint32_t count);

// The first bytes of an entry's data area, read together with its record by a lookup that is
// about to extract it: an entry's first block header costs no read of its own.
struct DataAhead {
    uint8_t bytes[4];
    uint32_t count;
};

// Reads the record at offset into *record; false when fewer than 40 bytes are there. With ahead,
// up to 4 bytes after the record are read too and kept there.
bool ReadRecord(ArchiveHandle* h, uint64_t offset, EntryRecord* record, DataAhead* ahead = nullptr);
void FillFileInfo(const EntryRecord& record, VORN_FILEINFO* info);

// Whether the name table holds name, and at which index (the first one that carries it).
bool FindNameIndex(ArchiveHandle* h, const char* name, uint64_t* index);
// Statuses of vorn_GetFileInfo; on success fills info and *recordOffset when given, and leaves
// the archive descriptor just past the record, where the entry's data area starts, or, with
// ahead, just past the data bytes kept there.
uint32_t FindEntryByName(ArchiveHandle* h, const char* name, VORN_FILEINFO* info,
                         uint64_t* recordOffset, DataAhead* ahead = nullptr);

// One entry's decoding run; sink null means memory mode with destination the caller's buffer.
uint32_t DecodeEntry(ArchiveHandle* h, const char* name, uint8_t* destination, EntrySink sink,
                     ProgressCallback progress);
// The run of an entry that FindEntryByName has just found (info and ahead as it filled them): the
// lookup left the descriptor in the data area, so an extraction call looks the entry up once.
uint32_t DecodeFoundEntry(ArchiveHandle* h, const VORN_FILEINFO& info, const DataAhead& ahead,
                          uint8_t* destination, EntrySink sink, ProgressCallback progress);
bool WriteToOutput(void* handle, const uint8_t* bytes, uint32_t count);

// The output file's folder as the Windows runtime's path splitting gives it: drive ("X:") and
// directory up to and including the last "\" or "/". folder holds kMaxPath bytes.
void OutputFolderOf(const char* path, char* folder);

}  // namespace archive

namespace archive {

// Integers on disk are little-endian whatever the host is.
inline uint16_t LoadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadU64(const uint8_t* p) {
    return static_cast<uint64_t>(LoadU32(p)) | (static_cast<uint64_t>(LoadU32(p + 4)) << 32);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline void StoreU64(uint8_t* p, uint64_t v) {
    StoreU32(p, static_cast<uint32_t>(v));
    StoreU32(p + 4, static_cast<uint32_t>(v >> 32));
}

inline uint64_t HashName(const uint8_t* name, size_t length) {
    uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        hash ^= name[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

inline void DecodeRecord(const uint8_t* bytes, EntryRecord* record) {
    record->bEncrypted = bytes[1];
    record->wAttributes = LoadU16(bytes + 2);
    record->qwStoredSize = LoadU64(bytes + 8);
    record->qwUnpackedSize = LoadU64(bytes + 16);
    record->qwFileTime = LoadU64(bytes + 24);
    record->dwCrc = LoadU32(bytes + 32);
}

}  // namespace archive
