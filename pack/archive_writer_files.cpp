// The writer's path for many files on many cores: the caller's thread reads the files block by
// block and checksums them, a BlockPipeline encodes the blocks, and the caller writes each
// finished block in the order a single thread would have written it, records included. So the
// archive is the same bytes whatever the number of threads.
#include <cstdio>
#include <deque>
#include <memory>

#include "crypto/crc32.h"
#include "pack/archive_writer.h"
#include "pack/block_pipeline.h"

namespace pack {

namespace {

// What is written next, in order: a block of an entry, or the end of an entry (job null).
struct Pending {
    std::shared_ptr<BlockJob> job;
    size_t entry;
    bool first;  // the entry's record goes first
    uint32_t inputBytes;
};

}  // namespace

Status ArchiveWriter::AddFiles(const std::vector<FileEntry>& files, unsigned jobs) {
    // Tests' hooks replace data areas entry by entry; they take the plain path.
    if (jobs <= 1 || hooks_ != nullptr) {
        for (const FileEntry& file : files) {
            if (AddFile(file.name, file.sourcePath, file.options) != Status::Ok) return failed_;
        }
        return Status::Ok;
    }
    BlockPipeline pipeline(jobs, 2 * size_t{jobs});
    std::deque<Pending> pending;
    std::vector<uint64_t> recordAt(files.size());
    std::vector<format::EntryRecord> records(files.size());

    auto writeOldest = [&]() -> Status {
        Pending next = std::move(pending.front());
        pending.pop_front();
        const FileEntry& file = files[next.entry];
        if (next.first) {
            recordAt[next.entry] = sink_->Size();
            uint8_t placeholder[format::kRecordBytes];
            format::EncodeRecord(format::EntryRecord{}, placeholder);
            if (Write(placeholder, sizeof placeholder) != Status::Ok) return failed_;
        }
        if (next.job == nullptr) {
            if (WriteRecord(recordAt[next.entry], file.options, records[next.entry]) !=
                Status::Ok) {
                return failed_;
            }
            names_.push_back(file.name);
            return Status::Ok;
        }
        std::shared_ptr<BlockJob> job = pipeline.TakeOldest();
        if (job->status != Status::Ok) return Fail(job->status, "cannot encode " + file.name);
        if (Write(job->encoded.data(), job->encoded.size()) != Status::Ok) return failed_;
        records[next.entry].storedSize += job->encoded.size();
        bytesDone_ += next.inputBytes;
        if (progress_) progress_(bytesDone_);
        return Status::Ok;
    };
    auto give = [&](Pending item) -> Status {
        while (pipeline.Full()) {
            if (writeOldest() != Status::Ok) return failed_;
        }
        if (item.job) pipeline.Give(item.job);
        pending.push_back(std::move(item));
        return Status::Ok;
    };

    for (size_t i = 0; i < files.size(); ++i) {
        const FileEntry& file = files[i];
        if (CheckEntry(file.name, file.options) != Status::Ok ||
            CheckSource(file.sourcePath) != Status::Ok) {
            return failed_;
        }
        std::FILE* source = std::fopen(file.sourcePath.c_str(), "rb");
        if (source == nullptr) return Fail(Status::ReadFailed, "cannot open " + file.sourcePath);
        Crc32 crc;
        bool first = true;
        Status status = Status::Ok;
        for (;;) {
            auto job = std::make_shared<BlockJob>();
            job->input.resize(file.options.blockSize);
            size_t got = std::fread(job->input.data(), 1, job->input.size(), source);
            if (got < job->input.size() && std::ferror(source)) {
                status = Fail(Status::ReadFailed, "cannot read the data of " + file.name);
                break;
            }
            if (got == 0) break;
            job->input.resize(got);
            crc.Update(job->input.data(), static_cast<uint32_t>(got));
            records[i].unpackedSize += got;
            job->method = file.options.method;
            job->encoder = file.options.encoder;
            job->password = file.options.password;
            status = give(Pending{job, i, first, static_cast<uint32_t>(got)});
            first = false;
            if (status != Status::Ok || got < file.options.blockSize) break;
        }
        std::fclose(source);
        if (status != Status::Ok) return status;
        records[i].crc = crc.Value();
        if (give(Pending{nullptr, i, first, 0}) != Status::Ok) return failed_;
    }
    while (!pending.empty()) {
        if (writeOldest() != Status::Ok) return failed_;
    }
    return Status::Ok;
}

}  // namespace pack
