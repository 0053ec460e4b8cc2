// Which kinds of block an entry holds, by walking its block headers, and which solid group it
// belongs to: what "vorn list" shows as the entry's codec and group. Only headers and the record
// are read; a header that points past the data area ends the walk.
#include "archive/archive_handle.h"
#include "archive/extraction.h"
#include "format/block.h"
#include "format/failed_check.h"
#include "format/solid.h"

namespace archive {

Status EntryBlockTypes(void* handle, uint64_t index, uint32_t* typeBits) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    *typeBits = 0;
    if (h == nullptr || index >= h->recordCount) return Status::NotFound;
    format::EntryRecord record;
    CORRUPT_IF(!ReadRecord(h, h->recordOffsets[index], &record));
    const uint64_t area = h->recordOffsets[index] + format::kRecordBytes;
    for (uint64_t at = 0; at < record.storedSize;) {
        uint8_t bytes[format::kBlockHeaderBytes];
        CORRUPT_IF(platform::FileSeek(h->archiveFd, area + at) != static_cast<int64_t>(area + at) ||
                   platform::FileRead(h->archiveFd, bytes, sizeof bytes) != sizeof bytes);
        format::BlockHeader header = format::DecodeBlockHeader(bytes);
        *typeBits |= 1u << header.type;
        CORRUPT_IF(header.type > format::kBlockLzHistory);
        at += format::kBlockHeaderBytes + format::BodyBytes(header);
    }
    return Status::Ok;
}

Status EntryGroup(void* handle, uint64_t index, uint32_t* group) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    *group = 0;
    if (h == nullptr || index >= h->recordCount) return Status::NotFound;
    format::EntryRecord record;
    CORRUPT_IF(!ReadRecord(h, h->recordOffsets[index], &record));
    if (format::ArchiveAllowsSolidGroups(h->header.reserved)) *group = record.group;
    return Status::Ok;
}

}  // namespace archive
