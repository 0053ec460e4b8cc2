// The entry decoding run: block framing, body reads into one 8 MiB buffer per run, deciphering,
// decoding, checksumming and delivery, with progress and a cancel poll at every block boundary.
// A run works in memory that is its own or lent by a caller that keeps it between runs; either
// way no two overlapping runs share it.
#include "codec/entry_run.h"

#include <cstring>

#include "codec/bit_reader.h"
#include "codec/block_decoder.h"
#include "crypto/blowfish.h"
#include "crypto/crc32.h"
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

// A block's header decides its body's size; a zero length reads as nothing, and a body beyond
// the read buffer lies outside the format.
bool BodySize(const format::BlockHeader& header, uint32_t* bodyBytes) {
    if (header.type != format::kBlockStored && header.type != format::kBlockCompressed) {
        return false;
    }
    *bodyBytes = format::BodyBytes(header);
    return header.length != 0 && *bodyBytes <= BLOCK_BUFFER_SIZE;
}

void ReportProgress(const EntryRun& run, uint64_t consumed) {
    if (run.progress.report == nullptr) return;
    double share = static_cast<double>(consumed) / static_cast<double>(run.storedSize);
    run.progress.report(run.progress.context, static_cast<int>(share * 100));
}

// Decodes or takes one block's body: *output and *outputBytes name its bytes. A compressed block
// is decoded in the staging area, never in the caller's memory, where the decoder's whole-word
// copies would leave bytes behind the output.
Status BlockOutput(const EntryRun& run, const RunMemory& memory, const format::BlockHeader& header,
                   uint8_t* body, uint32_t bodyBytes, uint64_t delivered, const uint8_t** output,
                   uint32_t* outputBytes) {
    const bool memoryMode = run.sink.take == nullptr;
    uint64_t room = memoryMode ? run.destinationSize - delivered : BLOCK_BUFFER_SIZE;
    if (header.type == format::kBlockStored) {
        if (header.length > room) return Status::Corrupt;
        *output = body;
        *outputBytes = header.length;
        return Status::Ok;
    }
    uint32_t capacity = room < BLOCK_BUFFER_SIZE ? static_cast<uint32_t>(room) : BLOCK_BUFFER_SIZE;
    *output = memory.staging;
    return DecodeCompressedBlock(body, bodyBytes, memory.contextTable, memory.staging, capacity,
                                 outputBytes);
}

}  // namespace

bool MapRunMemory(RunMemory* memory) {
    return MapPart(&memory->readBuffer, RUN_READ_BUFFER_BYTES) &&
           MapPart(&memory->contextTable, sizeof(ContextTable)) &&
           MapPart(&memory->staging, BLOCK_BUFFER_SIZE);
}

void UnmapRunMemory(RunMemory* memory) {
    if (memory->readBuffer != nullptr)
        platform::PageFree(memory->readBuffer, RUN_READ_BUFFER_BYTES);
    if (memory->contextTable != nullptr) {
        platform::PageFree(memory->contextTable, sizeof(ContextTable));
    }
    if (memory->staging != nullptr) platform::PageFree(memory->staging, BLOCK_BUFFER_SIZE);
    memory->readBuffer = nullptr;
    memory->contextTable = nullptr;
    memory->staging = nullptr;
}

Status DecodeEntry(const EntryInput& input, const EntryRun& run) {
    Crc32 crc;
    OwnedMemory owned;
    RunMemory memory;
    if (!GatherMemory(run.memory, &owned, &memory)) return Status::NoMemory;

    const bool decipher = run.encrypted && run.password != nullptr;
    uint64_t consumed = 0;
    uint64_t delivered = 0;
    // A block's body is read together with the header of the block after it, one read per block
    // rather than two; headerHeld counts the header bytes that came that way.
    uint8_t headerBytes[format::kBlockHeaderBytes];
    uint32_t headerHeld = 0;
    while (consumed < run.storedSize) {
        uint32_t got;
        uint32_t missing = format::kBlockHeaderBytes - headerHeld;
        if (!ReadAtLeast(input, headerBytes + headerHeld, missing, missing, &got)) {
            return Status::Corrupt;
        }
        ReportProgress(run, consumed);
        if (input.pollCancel != nullptr && input.pollCancel(input.context)) {
            return Status::Cancelled;
        }
        format::BlockHeader header = format::DecodeBlockHeader(headerBytes);
        uint32_t bodyBytes;
        if (!BodySize(header, &bodyBytes)) return Status::Corrupt;
        consumed += format::kBlockHeaderBytes + bodyBytes;

        uint8_t* body = memory.readBuffer;
        uint32_t readAhead = consumed < run.storedSize ? format::kBlockHeaderBytes : 0;
        if (!ReadAtLeast(input, body, bodyBytes, bodyBytes + readAhead, &got)) {
            return Status::Corrupt;
        }
        headerHeld = got - bodyBytes;
        memcpy(headerBytes, body + bodyBytes, headerHeld);
        memset(body + bodyBytes, 0, BODY_READ_SLACK);
        if (decipher) DecryptBuffer(body, bodyBytes, run.password);

        const uint8_t* output;
        uint32_t outputBytes;
        Status status =
            BlockOutput(run, memory, header, body, bodyBytes, delivered, &output, &outputBytes);
        if (status != Status::Ok) return status;
        if (outputBytes == 0) continue;
        crc.Update(output, outputBytes);
        if (run.sink.take == nullptr) {
            memcpy(run.destination + delivered, output, outputBytes);
        } else if (!run.sink.take(run.sink.context, output, outputBytes)) {
            return Status::DiskFull;
        }
        delivered += outputBytes;
    }

    if (run.progress.report != nullptr) run.progress.report(run.progress.context, 100);
    return crc.Value() == run.crc ? Status::Ok : Status::CrcMismatch;
}

}  // namespace codec
