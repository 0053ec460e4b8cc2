// The writer's path for solid groups: a job per group reads its files and encodes them in turn
// with one group encoder, so that every block's matches reach the whole group before it; the
// caller's thread writes the finished groups in order, each entry a record that names its group
// and the entry's blocks. At most jobs groups are in flight.
#include <algorithm>
#include <cstdio>
#include <deque>

#include "crypto/crc32.h"
#include "encoder/lz_block_encoder.h"
#include "pack/archive_writer.h"
#include "threads/work_pool.h"

namespace pack {

struct EncodedGroup {
    std::vector<format::EntryRecord> records;  // sizes and CRC of each entry
    std::vector<std::vector<uint8_t>> areas;   // each entry's blocks
    Status status = Status::Ok;
    std::string error;
};

namespace {

// Reads the whole file; false when it cannot be read or would pass the group's room.
bool ReadWhole(const std::string& path, uint64_t room, std::vector<uint8_t>& data) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    data.clear();
    uint8_t chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && data.size() <= room) {
        data.insert(data.end(), chunk, chunk + got);
    }
    bool ok = !std::ferror(file) && data.size() <= room;
    std::fclose(file);
    return ok;
}

// Reads and encodes one group's files in turn; the first failure ends it, noted in group.
void EncodeGroup(const std::vector<ArchiveWriter::FileEntry>& files, EncodedGroup& group) {
    encoder::LzGroupEncoder encoder;
    std::vector<uint8_t> data;
    for (const ArchiveWriter::FileEntry& file : files) {
        const uint64_t room = format::kSolidWindowBytes - encoder.GroupBytes();
        if (!ReadWhole(file.sourcePath, room, data)) {
            group.status = Status::ReadFailed;
            group.error = "cannot read the data of " + file.name + " (or it outgrew its group)";
            return;
        }
        format::EntryRecord record;
        Crc32 crc;
        record.crc = crc.Update(data.data(), static_cast<uint32_t>(data.size()));
        record.unpackedSize = data.size();
        std::vector<uint8_t> area;
        for (size_t at = 0; at < data.size(); at += encoder::kLzGroupBlockBytes) {
            const size_t n = std::min<size_t>(encoder::kLzGroupBlockBytes, data.size() - at);
            Status status = encoder.Encode(data.data() + at, static_cast<uint32_t>(n), area);
            if (status != Status::Ok) {
                group.status = status;
                group.error = "cannot encode " + file.name;
                return;
            }
        }
        group.records.push_back(record);
        group.areas.push_back(std::move(area));
    }
}

}  // namespace

Status ArchiveWriter::WriteGroup(const std::vector<FileEntry>& files, EncodedGroup& group) {
    if (group.status != Status::Ok) return Fail(group.status, group.error);
    ++groups_;
    for (size_t i = 0; i < files.size(); ++i) {
        if (CheckEntry(files[i].name, files[i].options) != Status::Ok) return failed_;
        const std::vector<uint8_t>* raw = hooks_ ? hooks_->DataArea(names_.size()) : nullptr;
        const std::vector<uint8_t>& area = raw ? *raw : group.areas[i];
        const uint64_t at = sink_->Size();
        uint8_t placeholder[format::kRecordBytes];
        format::EncodeRecord(format::EntryRecord{}, placeholder);
        if (Write(placeholder, sizeof placeholder) != Status::Ok ||
            Write(area.data(), area.size()) != Status::Ok) {
            return failed_;
        }
        format::EntryRecord record = group.records[i];
        record.storedSize = area.size();
        record.group = groups_;
        if (WriteRecord(at, files[i].options, record) != Status::Ok) return failed_;
        names_.push_back(files[i].name);
        bytesDone_ += record.unpackedSize;
        if (progress_) progress_(bytesDone_);
    }
    return Status::Ok;
}

Status ArchiveWriter::AddSolidGroups(const std::vector<std::vector<FileEntry>>& groups,
                                     unsigned jobs) {
    if (Usable() != Status::Ok) return failed_;
    for (const std::vector<FileEntry>& files : groups) {
        for (const FileEntry& file : files) {
            if (CheckSource(file.sourcePath) != Status::Ok) return failed_;
            if (file.options.password) {
                return Fail(Status::InvalidArgument,
                            "a solid group holds no entry with a password: " + file.name);
            }
        }
    }
    const unsigned inFlight = std::max(jobs, 1u);
    std::deque<EncodedGroup> results(groups.size());
    std::deque<threads::WorkPool::Ticket> tickets;
    threads::WorkPool pool(threads::WorkerThreadsFor(jobs));
    size_t given = 0;
    for (size_t written = 0; written < groups.size(); ++written) {
        for (; given < groups.size() && given < written + inFlight; ++given) {
            const size_t g = given;
            tickets.push_back(
                pool.Submit([&groups, &results, g] { EncodeGroup(groups[g], results[g]); }));
        }
        pool.Wait(tickets.front());
        tickets.pop_front();
        Status status = WriteGroup(groups[written], results[written]);
        results[written] = EncodedGroup{};  // its memory goes before the next group is read
        if (status != Status::Ok) {
            pool.WaitAll();
            return status;
        }
    }
    return Status::Ok;
}

}  // namespace pack
