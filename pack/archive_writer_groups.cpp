// The writer's path for solid groups: a job per group reads its files and encodes them in turn
// with one group encoder, so that every block's matches reach the whole group before it; the
// caller's thread writes the finished groups in order, each entry a record that names its group
// and the entry's blocks. At most jobs groups are in flight.
#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>

#include "crypto/crc32.h"
#include "encoder/lz_block_encoder.h"
#include "pack/archive_writer.h"
#include "pack/solid_groups.h"
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

// Reads one group's files, then encodes them in turn; the first failure ends it, noted in group.
// With findAhead, the group's matches are found on a second thread.
void EncodeGroup(const std::vector<ArchiveWriter::FileEntry>& files, bool findAhead,
                 EncodedGroup& group) {
    std::vector<uint8_t> data, bytes;
    std::vector<uint32_t> blocks, blocksPerFile;
    for (const ArchiveWriter::FileEntry& file : files) {
        if (!ReadWhole(file.sourcePath, format::kSolidWindowBytes - data.size(), bytes)) {
            group.status = Status::ReadFailed;
            group.error = "cannot read the data of " + file.name + " (or it outgrew its group)";
            return;
        }
        format::EntryRecord record;
        Crc32 crc;
        record.crc = crc.Update(bytes.data(), static_cast<uint32_t>(bytes.size()));
        record.unpackedSize = bytes.size();
        group.records.push_back(record);
        data.insert(data.end(), bytes.begin(), bytes.end());
        const size_t before = blocks.size();
        for (size_t at = 0; at < bytes.size(); at += encoder::kLzGroupBlockBytes) {
            blocks.push_back(static_cast<uint32_t>(
                std::min<size_t>(encoder::kLzGroupBlockBytes, bytes.size() - at)));
        }
        blocksPerFile.push_back(static_cast<uint32_t>(blocks.size() - before));
    }
    // A group holds files of one kind.
    encoder::LzGroupEncoder encoder(KindOf(files.front().name) == FileKind::Program
                                        ? encoder::LzProgramGroupSettings()
                                        : encoder::LzGroupSettings());
    Status status = encoder.Start(data.data(), blocks, findAhead);
    for (size_t f = 0; f < files.size() && status == Status::Ok; ++f) {
        group.areas.emplace_back();
        for (uint32_t b = 0; b < blocksPerFile[f] && status == Status::Ok; ++b) {
            status = encoder.EncodeNext(group.areas.back());
        }
    }
    if (status != Status::Ok) {
        group.status = status;
        group.error = "cannot encode the group of " + files.front().name;
    }
}

// The bytes of each group's files, as far as they can be told now: a file that cannot be looked
// at counts nothing here and fails when it is read.
std::vector<uint64_t> GroupBytes(const std::vector<std::vector<ArchiveWriter::FileEntry>>& groups) {
    std::vector<uint64_t> bytes;
    for (const std::vector<ArchiveWriter::FileEntry>& files : groups) {
        uint64_t sum = 0;
        for (const ArchiveWriter::FileEntry& file : files) {
            std::error_code ec;
            uint64_t size = std::filesystem::file_size(file.sourcePath, ec);
            if (!ec) sum += size;
        }
        bytes.push_back(sum);
    }
    return bytes;
}

}  // namespace

// A group's record, never sealed (a sealed archive holds no group).
Status ArchiveWriter::WriteGroupRecord(uint64_t at, const EntryOptions& options,
                                       format::EntryRecord record) {
    record.encrypted = 0;
    record.attributes = options.attributes;
    record.fileTime = options.fileTime;
    if (hooks_ != nullptr) hooks_->Record(names_.size(), record);
    uint8_t bytes[format::kRecordBytes];
    format::EncodeRecord(record, bytes);
    Status status = sink_->Rewrite(at, bytes, sizeof bytes);
    return status == Status::Ok ? status : Fail(status, "cannot write " + path_);
}

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
        if (WriteGroupRecord(at, files[i].options, record) != Status::Ok) return failed_;
        names_.push_back(files[i].name);
        bytesDone_ += record.unpackedSize;
        if (progress_) progress_(bytesDone_);
    }
    return Status::Ok;
}

Status ArchiveWriter::AddSolidGroups(const std::vector<std::vector<FileEntry>>& groups,
                                     unsigned jobs) {
    if (Usable() != Status::Ok) return failed_;
    if (sealOptions_ || sealer_) {
        return Fail(Status::InvalidArgument, "a sealed archive holds no solid group");
    }
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
    const std::vector<bool> findAhead = GroupsFindingAhead(GroupBytes(groups), jobs);
    std::deque<EncodedGroup> results(groups.size());
    std::deque<threads::WorkPool::Ticket> tickets;
    threads::WorkPool pool(threads::WorkerThreadsFor(jobs));
    size_t given = 0;
    for (size_t written = 0; written < groups.size(); ++written) {
        for (; given < groups.size() && given < written + inFlight; ++given) {
            const size_t g = given;
            tickets.push_back(pool.Submit([&groups, &results, &findAhead, g] {
                EncodeGroup(groups[g], findAhead[g], results[g]);
            }));
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
