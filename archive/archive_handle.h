// The archive handle behind the void* of the vorn_ calls, and the library's internal lookups.
// Besides the copies of header and trailer, the handle keeps what the open's one walk learned
// (every record's offset) and the name table as read once at open (plain, deciphered when
// enciphered) with an index of name starts and a hash from name to first index, so that
// enumeration and lookups cost the same on the millionth entry as on the first. Internally every
// call answers a format::Status; the C API turns it into its public code (public_status.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/extraction.h"
#include "archive/seal_keys.h"
#include "archive/vorn.h"
#include "codec/entry_run.h"
#include "format/container.h"
#include "format/status.h"
#include "platform/platform.h"

namespace archive {

using format::Status;

constexpr uint32_t kMaxPassword = 260;  // 259 characters and the NUL
constexpr uint16_t kLongName = 256;     // a name-table run longer than a name can be
// Text files of a few KiB pack to a block of a few hundred bytes: this holds dozens of such
// entries, records and all, and a larger entry's next block header with the start of its body.
constexpr uint32_t kReadAheadBytes = 65536;

// Answers the free space of a folder's volume; false when the query fails.
typedef bool (*FreeSpaceQuery)(const char* folder, uint64_t* bytes);

// Which group history holds, how far (the next entry whose run continues it) and the memory it
// lives in: mapped bytes, at least history.capacity.
struct SolidHistory {
    uint32_t group;  // 0: none held
    uint64_t next;
    codec::LzHistory history;
    size_t mapped;
};

struct ArchiveHandle {
    int archiveFd;
    int outputFd;
    uint32_t openMode;
    uint64_t baseOffset;
    format::ArchiveHeader header;
    format::NameTrailer trailer;
    uint64_t trailerOffset;
    const char* operationPassword;
    char archivePassword[kMaxPassword];
    platform::CancelEvent* cancelEvent;

    uint64_t fileLength;
    // The records the open walked (opened, in a sealed archive) and where each lies; the walk
    // succeeds only when it reads all of them, so there are header.entryCount of them for a
    // current-format archive. Kept, not read again: an extraction of many small entries would
    // otherwise spend more on reading each record several times than on decoding it.
    uint64_t* recordOffsets;
    format::EntryRecord* records;
    uint64_t recordCount;
    // A worker's handle reads the walk, and a plain name table with its index, of the handle it
    // was opened beside, which stays open longer: copying them cost it more than its share of
    // decoding 100,000 small entries. Nothing writes either after the open.
    bool walkBorrowed;
    bool namesBorrowed;
    // The name table's whole 16-byte units, plain.
    uint8_t* names;
    size_t namesSize;
    // nameStarts[i] is where name i starts, for the names below the entry count whose NUL lies
    // inside the table; nameHash, built by the first lookup by name, maps each such name of at most
    // 255 bytes to its first index.
    size_t* nameStarts;
    uint16_t* nameLengths;  // kLongName for a run of more than 255 bytes
    uint64_t indexedNames;
    size_t tailStart;    // where the first name that is not indexed starts
    uint64_t* nameHash;  // slots hold index + 1, 0 when empty
    size_t hashMask;

    // Where the extraction calls learn the free space; replaceable by tests.
    FreeSpaceQuery queryFreeSpace;

    // The decoding runs' read buffer, context table and staging area, mapped by the first
    // extraction and kept until the close: mapped afresh for every entry they cost a page fault
    // per page each time, which for a small entry outweighs its whole decoding. Calls on a handle
    // come from one thread at a time, so its runs never overlap.
    codec::RunMemory runMemory;
    // The file's bytes from readAheadFrom on, readAheadHeld of them, where a run's short reads go
    // first (RunSource): entries that follow one another in the file then share one read. Calls
    // on a handle never overlap, and neither do the runs of one call.
    uint8_t readAhead[kReadAheadBytes];
    uint64_t readAheadFrom;
    uint32_t readAheadHeld;

    // A sealed archive's seal block and keys (seal.sealed false for any other archive).
    SealState seal;
    // The decoded bytes of one solid group as far as the handle's runs have decoded it, so that
    // entries of a group taken in order are each decoded once (archive/solid_group.cpp).
    SolidHistory solid;
};

// Where an entry that a lookup found stands: the offset and length of its data area, its index, its
// enciphered byte in a sealed archive (which choose its nonces and key) and its solid group (0 for
// none, and always 0 in an archive without the mark).
struct EntryPlace {
    uint64_t dataStart;
    uint64_t dataBytes;  // the record's stored size
    uint64_t entryIndex;
    uint8_t sealedBy;  // 1: the open's password; 2: the entry's own
    uint32_t group;
};

// Keeps record, which lies at offset, as the next one walked; false when memory runs out.
bool AppendRecord(ArchiveHandle* h, uint64_t* capacity, uint64_t offset,
                  const format::EntryRecord& record);

// The open of a sealed archive after its 24-byte header (given as read) has been read, as
// sealed_open.cpp describes it. model: another open handle whose key may serve, or null.
Status ReadSealedArchive(ArchiveHandle* h, const uint8_t* header, const char* password,
                         const ArchiveHandle* model);
// Where the data area of walked entry index starts, in a plain or a sealed archive.
uint64_t DataStartOf(const ArchiveHandle* h, uint64_t index);
// The record of entry index, in a plain or a sealed archive, with its index, data area and
// enciphered byte noted in place when given. RecordsEnded past the records walked.
Status ReadRecordOf(ArchiveHandle* h, uint64_t index, format::EntryRecord* record,
                    EntryPlace* place = nullptr);
void FillFileInfo(const format::EntryRecord& record, VORN_FILEINFO* info);

// Whether the name table holds name, and at which index (the first one that carries it).
bool FindNameIndex(ArchiveHandle* h, const char* name, uint64_t* index);
// Statuses of vorn_GetFileInfo; on success fills info and place when given.
Status FindEntryByName(ArchiveHandle* h, const char* name, VORN_FILEINFO* info,
                       EntryPlace* place = nullptr);

// The record of entry index (the record's own facts in info, not its name), as an extraction by
// index looks it up; with place as for FindEntryByName. InvalidArgument beyond the entry count,
// NotFound on an older-format archive, RecordsEnded where the records end before it.
Status ReadEntryAt(ArchiveHandle* h, uint64_t index, VORN_FILEINFO* info, EntryPlace* place);

// The run of an entry that a lookup has just found (info and place as it filled them), so that an
// extraction call looks the entry up once.
// sink.take null: memory mode, into destination. cancel is asked once per block, beside the
// handle's cancel event.
Status DecodeFoundEntry(ArchiveHandle* h, const VORN_FILEINFO& info, const EntryPlace& place,
                        uint8_t* destination, codec::BlockSink sink, codec::ProgressReport progress,
                        CancelCheck cancel = {});

// DecodeFoundEntry's run of an entry of a solid group (place.group set): the entries before it in
// the group that the handle's history lacks are decoded and checked first, without delivery,
// then the entry itself; progress covers both. The failure of an earlier entry is the entry's.
Status DecodeGroupEntry(ArchiveHandle* h, const EntryPlace& place, codec::EntryRun run,
                        CancelCheck cancel);
// Releases the handle's group history.
void ReleaseSolidHistory(ArchiveHandle* h);

// What a run reads from, the entry's data area through the archive descriptor at the offsets it
// names, and what it asks whether to stop. A read shorter than the handle's read-ahead buffer
// that the buffer cannot serve fills it from there on.
struct RunSource {
    ArchiveHandle* h;
    EntryPlace place;
    CancelCheck cancel;
    uint64_t next = 0;  // offset in the data area of the next byte the run reads

    RunSource(ArchiveHandle* handle, const EntryPlace& where, CancelCheck check)
        : h(handle), place(where), cancel(check) {}
};
codec::EntryInput InputFrom(RunSource* source);
// The run of a found entry as far as its record and the handle say.
codec::EntryRun RunOf(ArchiveHandle* h, const VORN_FILEINFO& info);
// Runs decode over the found entry's input (source): as it is stored or, in a sealed archive,
// through the layer that opens its segments (codec/sealed_input.h) with the key its enciphered
// byte names, derived at most once per password and handle. A failed tag is Corrupt under the
// open's key and CrcMismatch under an entry's own password, so that it reads as a wrong one.
typedef Status (*RunOver)(const codec::EntryInput& input, const codec::EntryRun& run,
                          void* context);
Status RunFoundEntry(ArchiveHandle* h, const EntryPlace& place, RunSource* source,
                     const codec::EntryRun& run, RunOver decode, void* context);

// How an extraction decodes a found entry in sink mode: one at a time (kInTurn, what the C API
// does), or its blocks on threads (extraction.cpp). A function pointer, so that the C API's
// calls do not bring the threads into a program that has no use for them.
struct ExtractionRun;
typedef Status (*SinkDecoder)(ArchiveHandle* h, const VORN_FILEINFO& info, const EntryPlace& place,
                              codec::BlockSink sink, codec::ProgressReport progress,
                              const ExtractionRun& how);
struct ExtractionRun {
    SinkDecoder decode;
    unsigned threads;
    CancelCheck cancel;  // the caller's own, beside the handle's event
};
extern const ExtractionRun kInTurn;

// Which entry an extraction takes: the first that carries name (the C API's calls), or, with
// name null, the one at index (the project's own programs, which enumerated it).
struct WantedEntry {
    const char* name;
    uint64_t index;
};

// The file and sink extractions of extraction.h, decoding as how says.
Status ExtractToFileWith(void* handle, const WantedEntry& wanted, const char* path,
                         const char* password, const ExtractionRun& how,
                         codec::ProgressReport progress);
Status ExtractToOpenFileWith(void* handle, const WantedEntry& wanted, int fd, const char* folder,
                             const char* password, const ExtractionRun& how,
                             codec::ProgressReport progress);
Status ExtractToSinkWith(void* handle, const WantedEntry& wanted, const char* password,
                         const ExtractionRun& how, codec::BlockSink sink,
                         codec::ProgressReport progress);

// The sink of a file extraction: writes one block's output to the handle's output descriptor;
// false when not all of it was stored.
bool WriteToOutput(void* handle, const uint8_t* bytes, uint32_t count);

// The output file's folder as the Windows runtime's path splitting gives it: drive ("X:") and
// directory up to and including the last "\" or "/". folder holds format::kPathBufferBytes bytes.
void OutputFolderOf(const char* path, char* folder);

inline uint64_t HashName(const uint8_t* name, size_t length) {
    uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        hash ^= name[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace archive
