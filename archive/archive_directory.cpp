// The entry directory: entry n by index, the entry that carries a name, and where its record
// lies. Answers come from what the open learned (the records and their offsets, the plain name
// table and its index), so a call costs the same for any entry and reads nothing.
// The statuses are those of a walk over records and name units from the start: 1 when the
// records end before the entry, 4 when a name is missing, 64 when no name matches.
#include <cstdlib>
#include <cstring>

#include "archive/archive_handle.h"
#include "archive/extraction.h"
#include "format/solid.h"

namespace archive {

uint64_t DataStartOf(const ArchiveHandle* h, uint64_t index) {
    const uint64_t recordBytes = h->seal.sealed ? format::kSealedRecordBytes : format::kRecordBytes;
    return h->recordOffsets[index] + recordBytes;
}

Status ReadRecordOf(ArchiveHandle* h, uint64_t index, format::EntryRecord* record,
                    EntryPlace* place) {
    if (index >= h->recordCount) return Status::RecordsEnded;
    *record = h->records[index];
    if (place) {
        place->entryIndex = index;
        place->dataStart = DataStartOf(h, index);
        place->dataBytes = record->storedSize;
        if (h->seal.sealed) place->sealedBy = record->encrypted;
    }
    return Status::Ok;
}

void FillFileInfo(const format::EntryRecord& record, VORN_FILEINFO* info) {
    info->dwAttributes = record.attributes;
    if (record.encrypted) info->dwAttributes |= VORN_ATTR_ENCRYPTED;
    info->dwCRC = record.crc;
    info->qwStoredSize = record.storedSize;
    info->qwUnpackedSize = record.unpackedSize;
    info->qwFileTime = record.fileTime;
}

namespace {

// The slot of the hash that holds name, or the empty slot where the probe for it ends.
size_t ProbeSlot(const ArchiveHandle* h, const uint8_t* name, size_t length) {
    size_t slot = static_cast<size_t>(HashName(name, length)) & h->hashMask;
    while (h->nameHash[slot] != 0) {
        const size_t i = static_cast<size_t>(h->nameHash[slot] - 1);
        if (h->nameLengths[i] == length &&
            std::memcmp(h->names + h->nameStarts[i], name, length) == 0) {
            break;
        }
        slot = (slot + 1) & h->hashMask;
    }
    return slot;
}

// Hashes each indexed name of at most 255 bytes to its first index; false when memory is short.
bool HashNames(ArchiveHandle* h) {
    const size_t n = static_cast<size_t>(h->indexedNames);
    size_t slots = 16;
    while (slots < n * 2) slots *= 2;
    h->nameHash = static_cast<uint64_t*>(std::calloc(slots, sizeof(uint64_t)));
    if (!h->nameHash) return false;
    h->hashMask = slots - 1;
    for (size_t i = 0; i < n; ++i) {
        if (h->nameLengths[i] == kLongName) continue;
        const size_t slot = ProbeSlot(h, h->names + h->nameStarts[i], h->nameLengths[i]);
        if (h->nameHash[slot] == 0) h->nameHash[slot] = i + 1;
    }
    return true;
}

}  // namespace

bool FindNameIndex(ArchiveHandle* h, const char* name, uint64_t* index) {
    size_t length = 0;
    while (length <= format::kMaxNameBytes && name[length] != '\0') ++length;
    if (length > format::kMaxNameBytes) return false;  // no collected run of the table is that long
    const auto* wanted = reinterpret_cast<const uint8_t*>(name);
    if (!h->nameHash && h->indexedNames != 0) HashNames(h);
    if (h->nameHash) {
        const size_t slot = ProbeSlot(h, wanted, length);
        if (h->nameHash[slot] != 0) {
            *index = h->nameHash[slot] - 1;
            return true;
        }
    }
    // Past the indexed names lie only padding and names beyond the entry count; a search goes
    // through them too, counting every NUL. Without a hash (memory was short) it goes through all.
    uint64_t i = h->nameHash ? h->indexedNames : 0;
    size_t pos = h->nameHash ? h->tailStart : 0;
    while (pos < h->namesSize) {
        const void* hit = std::memchr(h->names + pos, 0, h->namesSize - pos);
        if (!hit) break;
        size_t run = static_cast<size_t>(static_cast<const uint8_t*>(hit) - (h->names + pos));
        if (run == length && std::memcmp(h->names + pos, wanted, length) == 0) {
            *index = i;
            return true;
        }
        ++i;
        pos += run + 1;
    }
    return false;
}

namespace {

// The bytes at offset read as a record, beyond the records walked; false when fewer than 40 bytes
// are there.
bool ReadRecordFromFile(ArchiveHandle* h, uint64_t offset, format::EntryRecord* record) {
    uint8_t bytes[format::kRecordBytes];
    int64_t got = platform::FileReadAt(h->archiveFd, offset, bytes, sizeof bytes);
    if (got != static_cast<int64_t>(sizeof bytes)) return false;
    *record = format::DecodeRecord(bytes);
    return true;
}

// The "record" of a name found beyond the entry count: a walk from the first record goes on over
// the trailer and the name table as if they were records, until the file ends.
Status WalkBeyondTheRecords(ArchiveHandle* h, uint64_t index, format::EntryRecord* record,
                            EntryPlace* place) {
    uint64_t offset = h->trailerOffset;
    for (uint64_t k = h->recordCount;; ++k) {
        if (!ReadRecordFromFile(h, offset, record)) return Status::RecordsEnded;
        uint64_t dataStart = offset + format::kRecordBytes;
        if (k == index) {
            if (place) place->dataStart = dataStart;
            if (place) place->dataBytes = record->storedSize;
            return Status::Ok;
        }
        if (dataStart > h->fileLength || record->storedSize > h->fileLength - dataStart) {
            return Status::RecordsEnded;
        }
        offset = dataStart + record->storedSize;
    }
}

// A name beyond the records walked belongs to no group: its "record" is trailer or name bytes.
void NoteWhere(const ArchiveHandle* h, uint64_t index, const format::EntryRecord& record,
               EntryPlace* place) {
    place->entryIndex = index;
    const bool grouped = format::ArchiveAllowsSolidGroups(h->header.reserved);
    place->group = grouped && index < h->recordCount ? record.group : 0;
}

}  // namespace

Status FindEntryByName(ArchiveHandle* h, const char* name, VORN_FILEINFO* info, EntryPlace* place) {
    if (place) *place = EntryPlace{};
    if (h->header.entryCount == 0 || h->header.version != format::kVersionCurrent) {
        return Status::NotFound;
    }
    uint64_t index = 0;
    if (!FindNameIndex(h, name, &index)) return Status::NameNotFound;
    format::EntryRecord record;
    Status status;
    if (index < h->recordCount) {
        status = ReadRecordOf(h, index, &record, place);
    } else if (h->seal.sealed) {
        status = Status::RecordsEnded;  // a sealed archive has nothing after its records to walk
    } else {
        status = WalkBeyondTheRecords(h, index, &record, place);
    }
    if (status != Status::Ok) return status;
    if (place) NoteWhere(h, index, record, place);
    if (info) {
        FillFileInfo(record, info);
        std::memcpy(info->szName, name, std::strlen(name) + 1);
    }
    return Status::Ok;
}

Status ReadEntryAt(ArchiveHandle* h, uint64_t index, VORN_FILEINFO* info, EntryPlace* place) {
    if (place) *place = EntryPlace{};
    if (index >= h->header.entryCount) return Status::InvalidArgument;
    if (h->header.version != format::kVersionCurrent) return Status::NotFound;
    format::EntryRecord record;
    Status status = ReadRecordOf(h, index, &record, place);
    if (status != Status::Ok) return status;
    if (place) NoteWhere(h, index, record, place);
    FillFileInfo(record, info);
    return Status::Ok;
}

Status EnumerateEntry(void* handle, VORN_FILEINFO* info, uint64_t index) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    if (!h || !info) return Status::InvalidArgument;
    Status status = ReadEntryAt(h, index, info, nullptr);
    if (status != Status::Ok) return status;
    if (index >= h->indexedNames) return Status::NotFound;  // the table ends before its NUL
    size_t i = static_cast<size_t>(index);
    uint16_t length = h->nameLengths[i];
    if (length > format::kMaxNameBytes) return Status::NotFound;  // no NUL within 256 bytes
    std::memcpy(info->szName, h->names + h->nameStarts[i], length);
    info->szName[length] = '\0';
    return Status::Ok;
}

Status GetFileInfo(void* handle, VORN_FILEINFO* info, const char* name) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    if (!h || !name) return Status::InvalidArgument;
    return FindEntryByName(h, name, info);
}

}  // namespace archive

using archive::ArchiveHandle;

extern "C" {

uint32_t vorn_EnumerateFiles(void* handle, VORN_FILEINFO* info, uint64_t index) {
    return archive::PublicCode(archive::EnumerateEntry(handle, info, index));
}

uint32_t vorn_GetFileInfo(void* handle, VORN_FILEINFO* info, const char* name) {
    return archive::PublicCode(archive::GetFileInfo(handle, info, name));
}

}  // extern "C"
