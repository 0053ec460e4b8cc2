// Which kinds of block an entry holds, by walking its block headers, and which solid group it
// belongs to: what "vorn list" shows as the entry's codec and group. Only headers are read; a
// header that points past the data area ends the walk. In a sealed archive a header lies inside a
// segment: only the segments that hold headers are read and opened, one per block or two where a
// header straddles their border.
#include <cstdlib>

#include "archive/archive_handle.h"
#include "archive/extraction.h"
#include "codec/sealed_input.h"
#include "crypto/secure_memory.h"
#include "format/block.h"
#include "format/failed_check.h"
#include "format/solid.h"

namespace archive {

namespace {

// The plain data of a sealed entry, a segment at a time.
struct SegmentPager {
    ArchiveHandle* h;
    codec::SealedEntry entry;
    uint64_t area;
    uint8_t* segment;  // format::kSegmentSealedBytes
    uint64_t held;     // the segment in it, or UINT64_MAX
};

bool PlainByte(SegmentPager* p, uint64_t at, uint8_t* byte) {
    const uint64_t index = at / format::kSegmentPlainBytes;
    if (index != p->held) {
        const uint32_t plain = codec::SegmentPlainLength(p->entry.plainBytes, index);
        const uint64_t offset = p->area + index * format::kSegmentSealedBytes;
        const uint32_t sealed = plain + format::kSealTagBytes;
        p->held = UINT64_MAX;
        if (platform::FileReadAt(p->h->archiveFd, offset, p->segment, sealed) != sealed ||
            !codec::OpenSegment(p->entry, index, p->segment, plain, p->segment)) {
            return false;
        }
        p->held = index;
    }
    *byte = p->segment[at % format::kSegmentPlainBytes];
    return true;
}

// A sealed entry's block types; its own password is not known here: PasswordNeeded.
Status SealedBlockTypes(ArchiveHandle* h, uint64_t index, const format::EntryRecord& record,
                        uint32_t* typeBits) {
    if (record.encrypted != 1) return Status::PasswordNeeded;
    SegmentPager pager{h, {h->seal.openKey, h->seal.aad, index, 0}, 0, nullptr, UINT64_MAX};
    format::PlainDataBytes(record.storedSize, &pager.entry.plainBytes);
    pager.area = DataStartOf(h, index);
    pager.segment = static_cast<uint8_t*>(std::malloc(format::kSegmentSealedBytes));
    if (pager.segment == nullptr) return Status::NoMemory;
    Status status = Status::Ok;
    for (uint64_t at = 0; at < pager.entry.plainBytes && status == Status::Ok;) {
        uint8_t bytes[format::kBlockHeaderBytes];
        for (uint32_t i = 0; i < sizeof bytes && status == Status::Ok; ++i) {
            if (!PlainByte(&pager, at + i, &bytes[i])) status = CORRUPT("a segment fails");
        }
        const format::BlockHeader header = format::DecodeBlockHeader(bytes);
        *typeBits |= 1u << header.type;
        if (header.type > format::kBlockLz) status = CORRUPT("an unknown block type");
        at += format::kBlockHeaderBytes + format::BodyBytes(header);
    }
    SecureWipe(pager.segment, format::kSegmentSealedBytes);
    std::free(pager.segment);
    return status;
}

}  // namespace

Status EntryBlockTypes(void* handle, uint64_t index, uint32_t* typeBits) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    *typeBits = 0;
    if (h == nullptr || index >= h->recordCount) return Status::NotFound;
    const format::EntryRecord& record = h->records[index];
    if (h->seal.sealed) return SealedBlockTypes(h, index, record, typeBits);
    const uint64_t area = DataStartOf(h, index);
    for (uint64_t at = 0; at < record.storedSize;) {
        uint8_t bytes[format::kBlockHeaderBytes];
        CORRUPT_IF(platform::FileReadAt(h->archiveFd, area + at, bytes, sizeof bytes) !=
                   sizeof bytes);
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
    if (format::ArchiveAllowsSolidGroups(h->header.reserved)) *group = h->records[index].group;
    return Status::Ok;
}

}  // namespace archive
