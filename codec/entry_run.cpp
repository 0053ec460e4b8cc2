// The entry decoding run: block framing, body reads into one 8 MiB buffer per run, deciphering,
// decoding, checksumming and delivery, with progress and a cancel poll at every block boundary.
// A run works in memory that is its own or lent by a caller that keeps it between runs; either
// way no two overlapping runs share it.
#include "codec/entry_run.h"

#include <cstring>
#include <new>

#include "codec/bit_reader.h"
#include "codec/compressed_block_decoder.h"
#include "codec/run_steps.h"
#include "crypto/blowfish.h"
#include "crypto/crc32.h"
#include "format/failed_check.h"
#include "platform/platform.h"

namespace codec {

namespace {

using format::Status;

// The next block's header is read into the slack behind a body.
static_assert(BODY_READ_SLACK >= format::kBlockHeaderBytes, "no room for the next block's header");

// Reads at least need and at most count bytes into buffer; false when the data area ends or fails
// first. *got receives the bytes read.
bool ReadAtLeast(const EntryInput& input, void* buffer, uint32_t need, uint32_t count,
                 uint32_t* got) {
    uint8_t* at = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < need) {
        int64_t n = input.read(input.context, at + done, count - done);
        if (n <= 0 || static_cast<uint64_t>(n) > count - done) return false;
        done += static_cast<uint32_t>(n);
    }
    *got = done;
    return true;
}

// What a run mapped for itself, unmapped on every return; memory the caller lent is not in it.
struct OwnedMemory : RunMemory {
    OwnedMemory() : RunMemory{nullptr, nullptr, nullptr} {}
    ~OwnedMemory() { UnmapRunMemory(this); }
};

template <typename T>
bool MapPart(T** part, size_t bytes) {
    if (*part == nullptr) *part = static_cast<T*>(platform::PageAlloc(bytes));
    return *part != nullptr;
}

// The memory the run works in: what the caller lent, and the rest mapped into owned.
bool GatherMemory(const RunMemory& lent, OwnedMemory* owned, RunMemory* use) {
    if ((lent.readBuffer == nullptr && !MapPart(&owned->readBuffer, RUN_READ_BUFFER_BYTES)) ||
        (lent.contextTable == nullptr && !MapPart(&owned->contextTable, sizeof(ContextTable))) ||
        (lent.staging == nullptr && !MapPart(&owned->staging, BLOCK_BUFFER_SIZE))) {
        return false;
    }
    use->readBuffer = lent.readBuffer != nullptr ? lent.readBuffer : owned->readBuffer;
    use->contextTable = lent.contextTable != nullptr ? lent.contextTable : owned->contextTable;
    use->staging = lent.staging != nullptr ? lent.staging : owned->staging;
    return true;
}

}  // namespace

bool MapRunMemory(RunMemory* memory) {
    return MapPart(&memory->readBuffer, RUN_READ_BUFFER_BYTES) &&
           MapPart(&memory->contextTable, sizeof(ContextTable)) &&
           MapPart(&memory->staging, BLOCK_BUFFER_SIZE);
}

void UnmapRunMemory(RunMemory* memory) {
    if (memory->readBuffer != nullptr) {
        platform::PageFree(memory->readBuffer, RUN_READ_BUFFER_BYTES);
    }
    if (memory->contextTable != nullptr) {
        platform::PageFree(memory->contextTable, sizeof(ContextTable));
    }
    if (memory->staging != nullptr) platform::PageFree(memory->staging, BLOCK_BUFFER_SIZE);
    memory->readBuffer = nullptr;
    memory->contextTable = nullptr;
    memory->staging = nullptr;
}

namespace steps {

namespace {

// A block's header decides its body's size; a zero length reads as nothing, and a body beyond
// the read buffer lies outside the format. LZ blocks exist only in archives that allow them, LZ
// blocks with history only in entries of a solid group.
bool BodySize(const format::BlockHeader& header, const EntryRun& run, uint32_t* bodyBytes) {
    if (header.type != format::kBlockStored && header.type != format::kBlockCompressed &&
        (header.type != format::kBlockLz || !run.lzBlocks) &&
        (header.type != format::kBlockLzHistory || run.history == nullptr)) {
        return false;
    }
    *bodyBytes = format::BodyBytes(header);
    return header.length != 0 && *bodyBytes <= BLOCK_BUFFER_SIZE;
}

}  // namespace

Status BlockReader::Start(format::BlockHeader* header, uint32_t* bodyBytes) {
    uint32_t got;
    uint32_t missing = format::kBlockHeaderBytes - headerHeld_;
    CORRUPT_IF(!ReadAtLeast(input_, header_ + headerHeld_, missing, missing, &got));
    if (run_.progress.report != nullptr) {
        double share = static_cast<double>(consumed_) / static_cast<double>(run_.storedSize);
        run_.progress.report(run_.progress.context, static_cast<int>(share * 100));
    }
    if (input_.pollCancel != nullptr && input_.pollCancel(input_.context)) {
        return Status::Cancelled;
    }
    *header = format::DecodeBlockHeader(header_);
    CORRUPT_IF(!BodySize(*header, run_, bodyBytes));
    consumed_ += format::kBlockHeaderBytes + *bodyBytes;
    return Status::Ok;
}

Status BlockReader::ReadBody(uint8_t* body, uint32_t bodyBytes) {
    uint32_t got;
    uint32_t readAhead = More() ? format::kBlockHeaderBytes : 0;
    CORRUPT_IF(!ReadAtLeast(input_, body, bodyBytes, bodyBytes + readAhead, &got));
    headerHeld_ = got - bodyBytes;
    memcpy(header_, body + bodyBytes, headerHeld_);
    memset(body + bodyBytes, 0, BODY_READ_SLACK);
    return Status::Ok;
}

namespace {

// The block's output, decoded or taken as it is; room bounds it.
Status DecodeBlock(const EntryRun& run, const format::BlockHeader& header, uint8_t* body,
                   uint32_t bodyBytes, uint32_t room, ContextTable* table, uint8_t* staging,
                   const uint8_t** output, uint32_t* outputBytes) {
    if (header.type == format::kBlockStored) {
        CORRUPT_IF(header.length > room);
        *output = body;
        *outputBytes = header.length;
        return Status::Ok;
    }
    *output = staging;
    if (header.type == format::kBlockCompressed) {
        return DecodeCompressedBlock(body, bodyBytes, table, staging, room, outputBytes);
    }
    auto* tables = new (static_cast<void*>(table)) LzDecodeTables;
    if (header.type == format::kBlockLz) {
        return DecodeLzBlock(body, bodyBytes, header.length, tables, staging, room, outputBytes);
    }
    return DecodeLzHistoryBlock(body, bodyBytes, header.length, tables, run.history, room, staging,
                                output, outputBytes);
}

// In a solid group every block's output joins the history; a type-3 block decoded in place.
Status JoinHistory(LzHistory* history, const format::BlockHeader& header, const uint8_t* output,
                   uint32_t outputBytes) {
    if (history == nullptr || header.type == format::kBlockLzHistory) return Status::Ok;
    CORRUPT_IF(outputBytes > history->capacity - history->filled);
    memcpy(history->bytes + history->filled, output, outputBytes);
    history->filled += outputBytes;
    return Status::Ok;
}

}  // namespace

Status BlockOutput(const EntryRun& run, const format::BlockHeader& header, uint8_t* body,
                   uint32_t bodyBytes, uint64_t room, ContextTable* table, uint8_t* staging,
                   const uint8_t** output, uint32_t* outputBytes) {
    if (run.encrypted && run.password != nullptr) DecryptBuffer(body, bodyBytes, run.password);
    uint32_t capacity = room < BLOCK_BUFFER_SIZE ? static_cast<uint32_t>(room) : BLOCK_BUFFER_SIZE;
    Status status =
        DecodeBlock(run, header, body, bodyBytes, capacity, table, staging, output, outputBytes);
    if (status != Status::Ok) return status;
    return JoinHistory(run.history, header, *output, *outputBytes);
}

}  // namespace steps

Status DecodeEntry(const EntryInput& input, const EntryRun& run) {
    Crc32 crc;
    OwnedMemory owned;
    RunMemory memory;
    if (!GatherMemory(run.memory, &owned, &memory)) return Status::NoMemory;
    format::TakeFailedCheck();  // a check noted before belongs to another run

    const bool memoryMode = run.sink.take == nullptr;
    uint64_t delivered = 0;
    steps::BlockReader reader(input, run);
    while (reader.More()) {
        format::BlockHeader header;
        uint32_t bodyBytes;
        Status status = reader.Start(&header, &bodyBytes);
        if (status == Status::Ok) status = reader.ReadBody(memory.readBuffer, bodyBytes);
        const uint8_t* output = nullptr;
        uint32_t outputBytes = 0;
        uint64_t room = run.unpackedSize - delivered;
        if (status == Status::Ok) {
            status = steps::BlockOutput(run, header, memory.readBuffer, bodyBytes, room,
                                        memory.contextTable, memory.staging, &output, &outputBytes);
        }
        if (status != Status::Ok) return status;
        if (outputBytes == 0) continue;
        crc.Update(output, outputBytes);
        if (memoryMode) {
            memcpy(run.destination + delivered, output, outputBytes);
        } else if (!run.sink.take(run.sink.context, output, outputBytes)) {
            return Status::DiskFull;
        }
        delivered += outputBytes;
    }
    if (run.progress.report != nullptr) run.progress.report(run.progress.context, 100);
    CORRUPT_IF(delivered != run.unpackedSize);
    return crc.Value() == run.crc ? Status::Ok : Status::CrcMismatch;
}

}  // namespace codec
