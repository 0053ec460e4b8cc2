// The writer's one path for entry data, on one thread or many: the caller's thread reads each
// entry block by block and checksums it, a BlockPipeline encodes the blocks (on the caller's
// thread when there is one job, on a pool of threads otherwise), and the caller writes each
// finished block in the order it was read, records included. So the archive is the same bytes
// whatever the number of threads.
#include <algorithm>
#include <cstdio>
#include <deque>

#include "crypto/crc32.h"
#include "pack/archive_writer.h"
#include "pack/block_pipeline.h"

namespace pack {

// An entry whose record is not yet final.
struct ArchiveWriter::OpenEntry {
    std::string name;
    EntryOptions options;
    format::EntryRecord record;
    uint64_t recordAt = 0;
    const std::vector<uint8_t>* rawArea = nullptr;  // written instead of the encoding
    uint8_t enciphered = 0;                         // a sealed archive's: which key seals the data
};

// What is written next, in the order read: an entry's placeholder record, one of its blocks (an
// encoding to take back from the pipeline, or only its count when a raw area replaces it), or
// its end (the raw area and the final record).
struct ArchiveWriter::Step {
    enum Kind { Start, Block, End } kind;
    OpenEntry* entry;
    bool encoded = false;
    uint32_t inputBytes = 0;
};

struct ArchiveWriter::Batch {
    explicit Batch(unsigned jobs)
        : pipeline(threads::WorkerThreadsFor(jobs), 2 * size_t{std::max(jobs, 1u)}) {}
    std::deque<OpenEntry> entries;  // stable addresses for the steps and jobs that point to them
    std::deque<Step> steps;
    BlockPipeline pipeline;  // last: its jobs end before the entries they read go
};

Status ArchiveWriter::WriteStep(Batch& batch) {
    const Step step = batch.steps.front();
    batch.steps.pop_front();
    OpenEntry& entry = *step.entry;
    switch (step.kind) {
        case Step::Start:
            return StartEntryData(entry);
        case Step::Block:
            if (step.encoded) {
                BlockJob job = batch.pipeline.TakeOldest();
                if (job.status != Status::Ok)
                    return Fail(job.status, "cannot encode " + entry.name);
                if (WriteEntryData(job.encoded->data(), job.encoded->size()) != Status::Ok) {
                    return failed_;
                }
                entry.record.storedSize += job.encoded->size();
            }
            bytesDone_ += step.inputBytes;
            if (progress_) progress_(bytesDone_);
            return Status::Ok;
        case Step::End:
            if (EndEntryData(entry) != Status::Ok || WriteRecord(entry) != Status::Ok) {
                return failed_;
            }
            names_.push_back(entry.name);
            batch.entries.pop_front();
            return Status::Ok;
    }
    return Status::Ok;
}

// The placeholder of the entry's record, as long as the record will be; in a sealed archive the
// key its data is sealed under is settled here, derived when its password is new.
Status ArchiveWriter::StartEntryData(OpenEntry& entry) {
    entry.recordAt = sink_->Size();
    uint8_t placeholder[format::kSealedRecordBytes] = {};
    if (!sealer_) return Write(placeholder, format::kRecordBytes);
    const uint8_t* key = nullptr;
    std::string problem;
    const Status keyed = sealer_->KeyFor(entry.options.password, &entry.enciphered, &key, &problem);
    if (keyed != Status::Ok) return Fail(keyed, entry.name + ": " + problem);
    segments_.Start(*sealer_, key, names_.size());
    return Write(placeholder, sizeof placeholder);
}

// Stored data of the entry being written: as it is, or into its sealed segments.
Status ArchiveWriter::WriteEntryData(const uint8_t* data, size_t size) {
    if (!sealer_) return Write(data, size);
    const Status status =
        segments_.Add(data, size, [this](const uint8_t* b, size_t n) { return Write(b, n); });
    return status == Status::Ok || status == failed_
               ? status
               : Fail(status, "an entry has more segments than its nonces can count");
}

// The data area's end: the raw area a hook gives in place of the encoding (never sealed), or the
// last sealed segment; the stored size is then what the area holds.
Status ArchiveWriter::EndEntryData(OpenEntry& entry) {
    if (entry.rawArea != nullptr) {
        if (Write(entry.rawArea->data(), entry.rawArea->size()) != Status::Ok) return failed_;
        entry.record.storedSize = entry.rawArea->size();
        return Status::Ok;
    }
    if (!sealer_) return Status::Ok;
    const Status status =
        segments_.Finish([this](const uint8_t* b, size_t n) { return Write(b, n); });
    if (status != Status::Ok) return failed_;
    entry.record.storedSize = format::SealedDataBytes(segments_.PlainBytes());
    return Status::Ok;
}

// Rewrites the entry's placeholder with its record, which holds its sizes and CRC by now; sealed
// under the archive key with the nonce of the entry's index in a sealed archive.
Status ArchiveWriter::WriteRecord(const OpenEntry& entry) {
    format::EntryRecord record = entry.record;
    record.encrypted = sealer_ ? entry.enciphered : entry.options.password ? 1 : 0;
    record.attributes = entry.options.attributes;
    record.fileTime = entry.options.fileTime;
    if (hooks_ != nullptr) hooks_->Record(names_.size(), record);
    uint8_t bytes[format::kSealedRecordBytes];
    format::EncodeRecord(record, bytes);
    size_t size = format::kRecordBytes;
    if (sealer_) {
        uint8_t nonce[format::kSealNonceBytes];
        format::SealNonce(format::kSealRecord, names_.size(), 0, false, nonce);
        sealer_->Seal(sealer_->ArchiveKey(), nonce, bytes, format::kRecordBytes, bytes);
        size = format::kSealedRecordBytes;
    }
    Status status = sink_->Rewrite(entry.recordAt, bytes, size);
    return status == Status::Ok ? status : Fail(status, "cannot write " + path_);
}

// Queues a step, writing finished ones first while the pipeline is full.
Status ArchiveWriter::Queue(Batch& batch, const Step& step, BlockJob* job) {
    while (batch.pipeline.Full()) {
        if (WriteStep(batch) != Status::Ok) return failed_;
    }
    if (job != nullptr) batch.pipeline.Give(std::move(*job));
    batch.steps.push_back(step);
    return Status::Ok;
}

Status ArchiveWriter::Drain(Batch& batch) {
    while (!batch.steps.empty()) {
        if (WriteStep(batch) != Status::Ok) return failed_;
    }
    return Status::Ok;
}

// Fills buffer with up to blockSize bytes; sources may give less than asked before their end, so
// a block is only short at the end.
Status ArchiveWriter::ReadBlock(const DataSource& source, const std::string& name,
                                uint32_t blockSize, std::vector<uint8_t>& buffer) {
    // The pooled buffer keeps its capacity, but growing its size clears the new bytes: sized to
    // the whole block at once, every small entry paid for clearing 8 MiB. It grows as it fills.
    constexpr uint32_t kFirstReadBytes = 64 * 1024;
    uint32_t filled = 0;
    while (filled < blockSize) {
        if (filled == buffer.size() || buffer.size() > blockSize) {
            const uint32_t grown = std::max<uint32_t>(kFirstReadBytes, 2 * filled);
            buffer.resize(std::min(grown, blockSize));
        }
        const uint32_t room = static_cast<uint32_t>(buffer.size()) - filled;
        const int64_t got = source(buffer.data() + filled, room);
        if (got < 0) return Fail(Status::ReadFailed, "cannot read the data of " + name);
        if (got == 0) break;
        filled += static_cast<uint32_t>(got);
    }
    buffer.resize(filled);
    return Status::Ok;
}

Status ArchiveWriter::AddFromSource(Batch& batch, const std::string& name,
                                    const EntryOptions& options, const DataSource& source) {
    if (CheckEntry(name, options) != Status::Ok) return failed_;
    const uint64_t index = names_.size() + batch.entries.size();
    batch.entries.push_back(OpenEntry{name, options, {}, 0, nullptr});
    OpenEntry& entry = batch.entries.back();
    entry.rawArea = hooks_ ? hooks_->DataArea(index) : nullptr;
    // Blowfish only outside a sealed archive, whose seals cover the blocks whole.
    const bool blowfish = entry.options.password && !sealer_ && !sealOptions_;
    const char* password = blowfish ? entry.options.password->c_str() : nullptr;
    if (Queue(batch, Step{Step::Start, &entry}, nullptr) != Status::Ok) return failed_;
    Crc32 crc;
    for (;;) {
        threads::BufferPool::Lease input = batch.pipeline.InputBuffer();
        if (ReadBlock(source, name, options.blockSize, *input) != Status::Ok) return failed_;
        const uint32_t filled = static_cast<uint32_t>(input->size());
        if (filled == 0) break;
        crc.Update(input->data(), filled);
        entry.record.unpackedSize += filled;
        const bool encoded = entry.rawArea == nullptr;
        BlockJob job{std::move(input), options.method, options.encoder, password, {}, Status::Ok};
        if (Queue(batch, Step{Step::Block, &entry, encoded, filled}, encoded ? &job : nullptr) !=
            Status::Ok) {
            return failed_;
        }
        if (filled < options.blockSize) break;
    }
    entry.record.crc = crc.Value();
    return Queue(batch, Step{Step::End, &entry}, nullptr);
}

Status ArchiveWriter::AddFiles(const std::vector<FileEntry>& files, unsigned jobs) {
    Batch batch(jobs);
    for (const FileEntry& file : files) {
        if (CheckSource(file.sourcePath) != Status::Ok) return failed_;
        std::FILE* source = std::fopen(file.sourcePath.c_str(), "rb");
        if (source == nullptr) return Fail(Status::ReadFailed, "cannot open " + file.sourcePath);
        const DataSource read = [&](uint8_t* buffer, uint32_t count) -> int64_t {
            const size_t got = std::fread(buffer, 1, count, source);
            if (got < count && std::ferror(source)) return -1;
            return static_cast<int64_t>(got);
        };
        Status status = AddFromSource(batch, file.name, file.options, read);
        std::fclose(source);
        if (status != Status::Ok) return status;
    }
    return Drain(batch);
}

Status ArchiveWriter::AddFile(const std::string& name, const std::string& sourcePath,
                              const EntryOptions& options) {
    return AddFiles({FileEntry{name, sourcePath, options}}, 1);
}

Status ArchiveWriter::AddEntry(const std::string& name, const std::vector<uint8_t>& data,
                               const EntryOptions& options) {
    size_t at = 0;
    const DataSource source = [&](uint8_t* buffer, uint32_t count) -> int64_t {
        const size_t n = std::min<size_t>(count, data.size() - at);
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(at),
                  data.begin() + static_cast<std::ptrdiff_t>(at + n), buffer);
        at += n;
        return static_cast<int64_t>(n);
    };
    Batch batch(1);
    if (AddFromSource(batch, name, options, source) != Status::Ok) return failed_;
    return Drain(batch);
}

}  // namespace pack
