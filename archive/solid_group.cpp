// Entries of a solid group: an entry's LZ blocks reach back into the decoded bytes of the entries
// before it in its group, so those are decoded first, into the handle's history, checked and not
// delivered. The history stays with the handle, so entries taken in the group's order (as every
// extraction of a whole archive takes them) are each decoded once; an entry taken alone costs the
// group's entries before it.
#include <cstring>

#include "archive/archive_handle.h"
#include "format/failed_check.h"
#include "format/solid.h"

namespace archive {

namespace {

// The entries before it are part of an entry's work: the share of the bytes read so far over all
// of them is what the caller sees.
struct GroupProgress {
    codec::ProgressReport outer;
    uint64_t before;  // stored bytes of the entries already decoded in this call
    uint64_t span;    // this entry's
    uint64_t total;   // of every entry the call decodes
};

void ReportGroupProgress(void* context, int percent) {
    auto* p = static_cast<GroupProgress*>(context);
    double done = static_cast<double>(p->before) + static_cast<double>(p->span) * percent / 100.0;
    p->outer.report(p->outer.context,
                    static_cast<int>(done * 100.0 / static_cast<double>(p->total)));
}

bool TakeNothing(void*, const uint8_t*, uint32_t) {
    return true;
}

// The group's first entry at or before index, and its entries' bytes together, from the records
// around index. Corrupt for a group beyond the window or an enciphered member: groups never hold
// enciphered entries.
Status FindGroup(ArchiveHandle* h, uint64_t index, uint32_t group, uint64_t* first,
                 uint64_t* bytes) {
    *first = index;
    while (*first > 0 && h->records[*first - 1].group == group) --*first;
    *bytes = 0;
    for (uint64_t i = *first; i < h->recordCount; ++i) {
        const format::EntryRecord& record = h->records[i];
        if (record.group != group) break;
        CORRUPT_IF(record.encrypted != 0);
        CORRUPT_IF(record.unpackedSize > format::kSolidWindowBytes - *bytes);
        *bytes += record.unpackedSize;
    }
    return Status::Ok;
}

// Starts the history afresh for the group of entry index, in memory large enough for the group.
Status StartHistory(ArchiveHandle* h, uint64_t index, uint32_t group) {
    SolidHistory& s = h->solid;
    s.group = 0;
    uint64_t first = 0, bytes = 0;
    Status status = FindGroup(h, index, group, &first, &bytes);
    if (status != Status::Ok) return status;
    if (bytes > s.mapped || s.history.bytes == nullptr) {
        ReleaseSolidHistory(h);
        size_t size = bytes == 0 ? 1 : static_cast<size_t>(bytes);
        s.history.bytes = static_cast<uint8_t*>(platform::PageAlloc(size));
        if (s.history.bytes == nullptr) return Status::NoMemory;
        s.mapped = size;
    }
    s.history.capacity = static_cast<uint32_t>(bytes);
    s.history.filled = 0;
    s.group = group;
    s.next = first;
    return Status::Ok;
}

// Decodes entry index into the history and to the run's sink or memory, with progress scaled.
Status DecodeMember(ArchiveHandle* h, uint64_t index, codec::EntryRun run, CancelCheck cancel,
                    GroupProgress* progress) {
    format::EntryRecord record;
    EntryPlace place{};
    CORRUPT_IF(ReadRecordOf(h, index, &record, &place) != Status::Ok);
    RunSource source(h, place, cancel);
    CORRUPT_IF(record.group != h->solid.group || record.encrypted != 0);
    run.storedSize = record.storedSize;
    run.crc = record.crc;
    run.unpackedSize = record.unpackedSize;
    run.history = &h->solid.history;
    progress->span = record.storedSize;
    if (run.progress.report != nullptr) run.progress = {ReportGroupProgress, progress};
    return codec::DecodeEntry(InputFrom(&source), run);
}

}  // namespace

Status DecodeGroupEntry(ArchiveHandle* h, const EntryPlace& place, codec::EntryRun run,
                        CancelCheck cancel) {
    SolidHistory& s = h->solid;
    if (s.group != place.group || s.next > place.entryIndex) {
        Status status = StartHistory(h, place.entryIndex, place.group);
        if (status != Status::Ok) return status;
    }
    GroupProgress progress{run.progress, 0, 0, 0};
    for (uint64_t i = s.next; i <= place.entryIndex; ++i) {
        progress.total += h->records[i].storedSize;
    }
    if (progress.total == 0) progress.total = 1;
    codec::EntryRun skip = run;
    skip.destination = nullptr;
    skip.sink = codec::BlockSink{TakeNothing, nullptr};
    for (; s.next <= place.entryIndex; ++s.next) {
        const bool wanted = s.next == place.entryIndex;
        Status status = DecodeMember(h, s.next, wanted ? run : skip, cancel, &progress);
        if (status != Status::Ok) {
            s.group = 0;  // the history holds part of an entry: it serves no later run
            return status;
        }
        progress.before += progress.span;
    }
    return Status::Ok;
}

void ReleaseSolidHistory(ArchiveHandle* h) {
    SolidHistory& s = h->solid;
    if (s.history.bytes != nullptr) platform::PageFree(s.history.bytes, s.mapped);
    s = SolidHistory{};
}

}  // namespace archive
