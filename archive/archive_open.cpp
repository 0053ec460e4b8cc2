// Opening and closing an archive handle: the scan for the archive inside a larger file, the one
// walk over the entry records, the trailer, the password check of an enciphered name table and
// the name index that later lookups use; plus close, lock, cancel and the entry count.
// Every position is checked against the file length before it is read, so a cut or hostile
// file fails the open with 3 instead of reading bytes that are not there.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "archive/archive_handle.h"
#include "archive/chunk_reader.h"
#include "archive/extraction.h"
#include "codec/entry_run.h"
#include "crypto/blowfish.h"
#include "crypto/crc32.h"
#include "crypto/secure_memory.h"
#include "format/failed_check.h"
#include "format/sealed.h"
#include "format/signature_scan.h"
#include "platform/platform.h"

namespace archive {
namespace {

constexpr size_t kScanChunk = 4u << 20;  // the scan crosses a whole program image
// A bare archive starts at offset 0 and a self-extractor's archive after a stub of some tens of
// KiB: a first read of this size finds most archives without filling the whole scan buffer.
constexpr size_t kScanFirstChunk = 128u << 10;

// The lowest offset below length - 8 where the magic and a known version word stand, read in
// consecutive slices: a small first one, as most archives start near the front, then large ones
// across the rest of a program image.
Status ScanForArchive(int fd, uint64_t length, uint64_t* base) {
    CORRUPT_IF(length <= format::kSignatureBytes);
    ChunkReader reader;
    if (!ChunkInit(&reader, fd, length, kScanFirstChunk)) return Status::NoMemory;
    format::SignatureScan scan;
    bool grown = false;
    for (uint64_t p = 0; p < length && !scan.Found();) {
        if (p != 0 && !grown) {
            ChunkFree(&reader);
            if (!ChunkInit(&reader, fd, length, kScanChunk)) return Status::NoMemory;
            grown = true;
        }
        const size_t avail = static_cast<size_t>(
            length - p < reader.capacity ? length - p : uint64_t{reader.capacity});
        const uint8_t* chunk = ChunkAt(&reader, p, avail);
        if (chunk == nullptr) break;
        scan.Feed(chunk, avail);
        p += avail;
    }
    ChunkFree(&reader);
    CORRUPT_IF(!scan.Found() || scan.Offset() >= length - format::kSignatureBytes);
    *base = scan.Offset();
    return Status::Ok;
}

// Walks every record from base + 24 to the trailer, keeping each record's offset.
Status WalkRecords(ArchiveHandle* h, uint64_t* trailerOffset) {
    const uint64_t length = h->fileLength;
    uint64_t pos = h->baseOffset + format::kHeaderBytes;
    const uint64_t count = h->header.entryCount;
    // Every record takes 40 bytes: a count the file cannot hold fails before any reading.
    CORRUPT_IF(count > (length - pos) / format::kRecordBytes);
    ChunkReader reader;
    if (!ChunkInit(&reader, h->archiveFd, length, kWalkBuffer, kWalkFirstRead)) {
        return Status::NoMemory;
    }
    uint64_t capacity = 0;
    Status status = Status::Ok;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* bytes = ChunkAt(&reader, pos, format::kRecordBytes);
        if (!bytes) {
            status = CORRUPT("a record runs past the end of the file");
            break;
        }
        const format::EntryRecord record = format::DecodeRecord(bytes);
        if (!AppendRecord(h, &capacity, pos, record)) {
            status = Status::NoMemory;
            break;
        }
        uint64_t stored = record.storedSize;
        uint64_t dataStart = pos + format::kRecordBytes;
        if (stored > length - dataStart) {
            status = CORRUPT("stored > length - dataStart");
            break;
        }
        pos = dataStart + stored;
    }
    ChunkFree(&reader);
    *trailerOffset = pos;
    return status;
}

// Deciphers the name table unit by unit and checks its first names-length bytes against the
// trailer's CRC: the password check of an enciphered table.
bool DecipherAndCheckNames(ArchiveHandle* h) {
    BlowfishContext ctx;
    BlowfishSetPassword(&ctx, h->archivePassword);
    Crc32 crc;
    const uint64_t namesLength = h->trailer.namesLength;
    for (size_t at = 0; at < h->namesSize; at += format::kNameUnitBytes) {
        DecryptNameUnit(&ctx, h->names + at);
        if (at < namesLength) {
            uint64_t take = namesLength - at;
            if (take > format::kNameUnitBytes) take = format::kNameUnitBytes;
            crc.Update(h->names + at, static_cast<uint32_t>(take));
        }
    }
    SecureWipe(&ctx, sizeof ctx);
    return crc.Value() == h->trailer.namesCrc;
}

// Indexes the names below the entry count whose NUL lies inside the table. Their hash waits for
// the first lookup by name: listing, testing or extracting every entry never needs it.
Status IndexNames(ArchiveHandle* h) {
    uint64_t nuls = 0;
    const uint8_t* end = h->names + h->namesSize;
    for (const uint8_t* p = h->names; p < end; ++nuls) {
        const void* hit = std::memchr(p, 0, static_cast<size_t>(end - p));
        if (!hit) break;
        p = static_cast<const uint8_t*>(hit) + 1;
    }
    uint64_t indexed = nuls < h->header.entryCount ? nuls : h->header.entryCount;
    if (indexed == 0) return Status::Ok;
    if (indexed > SIZE_MAX / 4 / sizeof(uint64_t)) return Status::NoMemory;
    const size_t n = static_cast<size_t>(indexed);
    h->nameStarts = static_cast<size_t*>(std::malloc(n * sizeof(size_t)));
    h->nameLengths = static_cast<uint16_t*>(std::malloc(n * sizeof(uint16_t)));
    if (!h->nameStarts || !h->nameLengths) return Status::NoMemory;
    platform::PrepareForWriting(h->nameStarts, n * sizeof(size_t));
    platform::PrepareForWriting(h->nameLengths, n * sizeof(uint16_t));
    h->indexedNames = indexed;
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* name = h->names + start;
        size_t length = static_cast<size_t>(
            static_cast<const uint8_t*>(std::memchr(name, 0, h->namesSize - start)) - name);
        h->nameStarts[i] = start;
        h->nameLengths[i] =
            length > format::kMaxNameBytes ? kLongName : static_cast<uint16_t>(length);
        start += length + 1;
    }
    h->tailStart = start;
    return Status::Ok;
}

// Reads the whole 16-byte units of the name area once, deciphering an enciphered table after
// its password check.
Status LoadNames(ArchiveHandle* h, bool passwordGiven) {
    uint64_t area = h->fileLength - h->trailerOffset - format::kTrailerBytes;
    uint64_t size = area - area % format::kNameUnitBytes;
    if (size > SIZE_MAX) return Status::NoMemory;
    if (size > 0) {
        h->names = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
        if (!h->names) return Status::NoMemory;
        platform::PrepareForWriting(h->names, static_cast<size_t>(size));
        Status status = ReadExactly(h->archiveFd, h->trailerOffset + format::kTrailerBytes,
                                    h->names, static_cast<size_t>(size));
        if (status != Status::Ok) return status;
    }
    h->namesSize = static_cast<size_t>(size);
    if (h->trailer.namesEncrypted) {
        if (!passwordGiven) return Status::PasswordNeeded;
        if (!DecipherAndCheckNames(h)) return Status::CrcMismatch;
    }
    return IndexNames(h);
}

// Whether model, a plain archive open on the same path, still looks like the file h has just
// opened: the same length, the archive at the same place, the same header.
bool SameFileAs(const ArchiveHandle* h, const ArchiveHandle* model) {
    if (model == nullptr || model->seal.sealed || model->recordCount == 0) return false;
    const format::ArchiveHeader& a = h->header;
    const format::ArchiveHeader& b = model->header;
    return model->fileLength == h->fileLength && model->baseOffset == h->baseOffset &&
           a.magic == b.magic && a.version == b.version && a.entryCount == b.entryCount &&
           a.flags == b.flags && a.reserved == b.reserved &&
           model->recordCount == model->header.entryCount;
}

// A further handle on a file another handle walked (a worker's, beside the handle the work was
// planned with) reads that walk instead of walking the whole file again, which for 100,000 small
// entries cost as much as decoding several thousand of them. A file changed in a way SameFileAs
// does not see makes its entries fail their checks, as a change after any open does.
void BorrowWalkOf(ArchiveHandle* h, const ArchiveHandle* model, uint64_t* trailerOffset) {
    h->recordOffsets = model->recordOffsets;
    h->records = model->records;
    h->recordCount = model->recordCount;
    h->walkBorrowed = true;
    *trailerOffset = model->trailerOffset;
}

// The name table and its index as well, where the model read the same plain table. An
// enciphered one is read again: the open's password must pass its own check.
bool BorrowNamesOf(ArchiveHandle* h, const ArchiveHandle* model) {
    if (!h->walkBorrowed) return false;
    const format::NameTrailer& a = h->trailer;
    const format::NameTrailer& b = model->trailer;
    if (a.namesEncrypted || b.namesEncrypted || a.namesCrc != b.namesCrc ||
        a.namesLength != b.namesLength) {
        return false;
    }
    h->names = model->names;
    h->namesSize = model->namesSize;
    h->nameStarts = model->nameStarts;
    h->nameLengths = model->nameLengths;
    h->indexedNames = model->indexedNames;
    h->tailStart = model->tailStart;
    h->namesBorrowed = true;
    return true;
}

Status ReadArchive(ArchiveHandle* h, const char* password, const ArchiveHandle* model) {
    int64_t length = platform::FileLength(h->archiveFd);
    CORRUPT_IF(length < 0);
    h->fileLength = static_cast<uint64_t>(length);
    Status status = ScanForArchive(h->archiveFd, h->fileLength, &h->baseOffset);
    if (status != Status::Ok) return status;

    uint8_t bytes[format::kHeaderBytes];
    CORRUPT_IF(h->fileLength - h->baseOffset < format::kHeaderBytes);
    status = ReadExactly(h->archiveFd, h->baseOffset, bytes, format::kHeaderBytes);
    if (status != Status::Ok) return status;
    h->header = format::DecodeHeader(bytes);
    // An older-format archive is only recognised: nothing beyond its header is read.
    if (h->header.version != format::kVersionCurrent) return Status::Ok;
    // A mark this reader does not know changes what the bytes mean: refused, never guessed at.
    CORRUPT_IF((h->header.reserved & ~format::kKnownReservedBits) != 0);
    if (format::ArchiveIsSealed(h->header.reserved)) {
        status = ReadSealedArchive(h, bytes, password, model);
        return status == Status::Ok ? IndexNames(h) : status;
    }

    uint64_t trailerOffset = 0;
    if (SameFileAs(h, model)) {
        BorrowWalkOf(h, model, &trailerOffset);
    } else {
        status = WalkRecords(h, &trailerOffset);
        if (status != Status::Ok) return status;
    }
    CORRUPT_IF(trailerOffset > h->fileLength ||
               h->fileLength - trailerOffset < format::kTrailerBytes);
    h->trailerOffset = trailerOffset;
    uint8_t trailer[format::kTrailerBytes];
    status = ReadExactly(h->archiveFd, trailerOffset, trailer, format::kTrailerBytes);
    if (status != Status::Ok) return status;
    h->trailer = format::DecodeTrailer(trailer);
    if (BorrowNamesOf(h, model)) return Status::Ok;
    return LoadNames(h, password != nullptr);
}

void ReleaseHandle(ArchiveHandle* h) {
    if (h->cancelEvent) platform::EventClose(h->cancelEvent);
    if (h->archiveFd >= 0) platform::FileClose(h->archiveFd);
    if (!h->walkBorrowed) {
        std::free(h->recordOffsets);
        std::free(h->records);
    }
    if (!h->namesBorrowed) {
        // Deciphered names are the password's work: none is left in freed memory.
        if (h->names && h->trailer.namesEncrypted) SecureWipe(h->names, h->namesSize);
        std::free(h->names);
        std::free(h->nameStarts);
        std::free(h->nameLengths);
    }
    std::free(h->nameHash);
    codec::UnmapRunMemory(&h->runMemory);
    WipeSealState(&h->seal);
    SecureWipe(h->archivePassword, sizeof h->archivePassword);
    ReleaseSolidHistory(h);
    std::free(h);
}

Status LockArchive(ArchiveHandle* h) {
    if (!h) return Status::InvalidArgument;
    if (h->header.flags & format::kFlagLocked) return Status::Locked;
    // A read-only open cannot write the header; saying so beats reporting a lock that is not on
    // the disk.
    if (!(h->openMode & VORN_OPEN_READWRITE)) return Status::OpenMode;
    format::ArchiveHeader locked = h->header;
    locked.flags |= format::kFlagLocked;
    uint8_t bytes[format::kHeaderBytes];
    format::EncodeHeader(locked, bytes);
    if (platform::FileSeek(h->archiveFd, h->baseOffset) != static_cast<int64_t>(h->baseOffset) ||
        platform::FileWrite(h->archiveFd, bytes, format::kHeaderBytes) != format::kHeaderBytes) {
        return Status::OpenMode;
    }
    h->readAheadHeld = 0;  // it may hold the header as it was
    h->header = locked;
    return Status::Ok;
}

// Any descriptor the open got, 0 included, is one to close.
Status CloseArchive(ArchiveHandle* h) {
    if (!h || h->archiveFd < 0) return Status::InvalidArgument;
    ReleaseHandle(h);
    return Status::Ok;
}

Status CancelOperation(ArchiveHandle* h) {
    if (!h) return Status::InvalidArgument;
    platform::EventSet(h->cancelEvent);
    return Status::Ok;
}

}  // namespace

namespace {

// Grows *array to hold count elements of size bytes; false when memory runs out (it stays).
bool GrowArray(void** array, uint64_t count, size_t size) {
    if (count > SIZE_MAX / size) return false;
    void* more = std::realloc(*array, static_cast<size_t>(count) * size);
    if (!more) return false;
    *array = more;
    return true;
}

}  // namespace

bool AppendRecord(ArchiveHandle* h, uint64_t* capacity, uint64_t offset,
                  const format::EntryRecord& record) {
    if (h->recordCount == *capacity) {
        uint64_t grown = *capacity ? *capacity * 2 : 256;
        void* offsets = h->recordOffsets;
        void* records = h->records;
        bool fits = GrowArray(&offsets, grown, sizeof(uint64_t)) &&
                    GrowArray(&records, grown, sizeof(format::EntryRecord));
        h->recordOffsets = static_cast<uint64_t*>(offsets);
        h->records = static_cast<format::EntryRecord*>(records);
        if (!fits) return false;
        // The records the header says are still to come fault in at once.
        const uint64_t due = std::min<uint64_t>(grown, h->header.entryCount);
        if (due > *capacity) {
            const size_t more = static_cast<size_t>(due - *capacity);
            platform::PrepareForWriting(h->recordOffsets + *capacity, more * sizeof(uint64_t));
            platform::PrepareForWriting(h->records + *capacity, more * sizeof(format::EntryRecord));
        }
        *capacity = grown;
    }
    h->recordOffsets[h->recordCount] = offset;
    h->records[h->recordCount++] = record;
    return true;
}

Status OpenArchiveLike(void** handle, const char* path, const char* password, unsigned int mode,
                       const void* model) {
    if (!handle) return Status::InvalidArgument;
    *handle = nullptr;
    if (!path || std::strlen(path) >= format::kPathBufferBytes) return Status::InvalidArgument;
    if (password && std::strlen(password) >= kMaxPassword) return Status::InvalidArgument;
    // Modes 4 and 8 would go on without an open file; nothing supplies one, so they are refused.
    if (mode & (4u | 8u)) return Status::InvalidArgument;
    int flags = platform::kOpenBinary | platform::kOpenSequential;
    if (mode & VORN_OPEN_READWRITE) {
        flags |= platform::kOpenReadWrite;
    } else if (mode & VORN_OPEN_READONLY) {
        flags |= platform::kOpenReadOnly;
    } else {
        return Status::InvalidArgument;
    }

    auto* h = static_cast<ArchiveHandle*>(std::calloc(1, sizeof(ArchiveHandle)));
    if (!h) return Status::NoMemory;
    if (password) std::strcpy(h->archivePassword, password);
    h->archiveFd = -1;
    h->outputFd = -1;
    h->openMode = mode;
    h->queryFreeSpace = platform::FreeSpaceOfFolder;

    h->archiveFd = platform::FileOpen(path, flags, 0);
    if (h->archiveFd < 0) {
        ReleaseHandle(h);
        return Status::NotFound;
    }
    Status status = ReadArchive(h, password, static_cast<const ArchiveHandle*>(model));
    SecureWipe(h->archivePassword, sizeof h->archivePassword);  // needed by the open alone
    if (status == Status::Ok) {
        h->cancelEvent = platform::EventCreate();
        if (!h->cancelEvent) status = Status::NoMemory;
    }
    if (status != Status::Ok) {
        ReleaseHandle(h);
        return status;
    }
    *handle = h;
    return Status::Ok;
}

Protection ProtectionOf(void* handle, format::SealBlock* seal) {
    const auto* h = static_cast<const ArchiveHandle*>(handle);
    if (h->seal.sealed) {
        *seal = h->seal.block;
        return Protection::Sealed;
    }
    return h->trailer.namesEncrypted ? Protection::Blowfish : Protection::None;
}

bool SealedSettingsDigest(void* handle, uint8_t digest[format::kSettingsDigestBytes]) {
    const auto* h = static_cast<const ArchiveHandle*>(handle);
    if (!h->seal.sealed) return false;
    std::memcpy(digest, h->seal.settingsDigest, format::kSettingsDigestBytes);
    return true;
}

Status OpenArchive(void** handle, const char* path, const char* password, unsigned int mode) {
    return OpenArchiveLike(handle, path, password, mode, nullptr);
}

}  // namespace archive

using archive::ArchiveHandle;

extern "C" {

uint32_t vorn_OpenStream(void** handle, const char* path, const char* password, unsigned int mode) {
    return archive::PublicCode(archive::OpenArchive(handle, path, password, mode));
}

uint32_t vorn_CloseStream(void* handle) {
    return archive::PublicCode(archive::CloseArchive(static_cast<ArchiveHandle*>(handle)));
}

uint32_t vorn_LockArchive(void* handle) {
    return archive::PublicCode(archive::LockArchive(static_cast<ArchiveHandle*>(handle)));
}

uint32_t vorn_CancelOperation(void* handle) {
    return archive::PublicCode(archive::CancelOperation(static_cast<ArchiveHandle*>(handle)));
}

uint64_t vorn_GetNumFiles(void* handle) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    return h ? h->header.entryCount : 0;
}

}  // extern "C"
