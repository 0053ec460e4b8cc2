// The entry decoding run: block framing, body reads into one 8 MiB buffer per run, deciphering,
// decoding, checksumming and delivery, with progress and a cancel poll at every block boundary.
// A run works in a read buffer and a context table that are its own or lent by a caller that keeps
// them between runs; either way no two overlapping runs share them.
#include "codec/entry_run.h"

#include <cstring>

#include "codec/bit_reader.h"
#include "codec/block_decoder.h"
#include "crypto/blowfish.h"
#include "crypto/crc32.h"
#include "platform/platform.h"

namespace codec {

namespace {

constexpr uint32_t BLOCK_STORED = 0;
constexpr uint32_t BLOCK_COMPRESSED = 1;
constexpr uint32_t BLOCK_HEADER_BYTES = 4;
// The next block's header is read into the slack behind a body.
static_assert(BODY_READ_SLACK >= BLOCK_HEADER_BYTES, "no room for the next block's header");

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
    OwnedMemory() : RunMemory{nullptr, nullptr} {}
    ~OwnedMemory() { UnmapRunMemory(this); }
};

}  // namespace

bool MapRunMemory(RunMemory* memory) {
    if (memory->readBuffer == nullptr) {
        memory->readBuffer = static_cast<uint8_t*>(platform::PageAlloc(RUN_READ_BUFFER_BYTES));
        if (memory->readBuffer == nullptr) return false;
    }
    if (memory->contextTable == nullptr) {
        memory->contextTable =
            static_cast<ContextTable*>(platform::PageAlloc(sizeof(ContextTable)));
        if (memory->contextTable == nullptr) return false;
    }
    return true;
}

void UnmapRunMemory(RunMemory* memory) {
    if (memory->readBuffer != nullptr) {
        platform::PageFree(memory->readBuffer, RUN_READ_BUFFER_BYTES);
    }
    if (memory->contextTable != nullptr) {
        platform::PageFree(memory->contextTable, sizeof(ContextTable));
    }
    memory->readBuffer = nullptr;
    memory->contextTable = nullptr;
}

uint32_t DecodeEntry(const EntryInput& input, const EntryRun& run) {
    Crc32 crc;
    // Only what the caller did not lend is mapped here, and only that is unmapped on return.
    OwnedMemory owned;
    uint8_t* readBuffer = run.readBuffer;
    if (readBuffer == nullptr) {
        owned.readBuffer = static_cast<uint8_t*>(platform::PageAlloc(RUN_READ_BUFFER_BYTES));
        if (owned.readBuffer == nullptr) return kRunNoMemory;
        readBuffer = owned.readBuffer;
    }
    ContextTable* contextTable = run.contextTable;
    if (contextTable == nullptr) {
        owned.contextTable = static_cast<ContextTable*>(platform::PageAlloc(sizeof(ContextTable)));
        if (owned.contextTable == nullptr) return kRunNoMemory;
        contextTable = owned.contextTable;
    }

    const bool fileMode = run.sink != nullptr;
    const bool decipher = run.encrypted && run.password != nullptr;
    uint64_t consumed = 0;
    uint64_t delivered = 0;  // memory mode: bytes written to the caller's buffer

    // A block's body is read together with the header of the block after it, one read per block
    // rather than two; headerHeld counts the header bytes that came that way.
    uint8_t header[BLOCK_HEADER_BYTES];
    uint32_t headerHeld = 0;
    while (consumed < run.storedSize) {
        uint32_t got;
        uint32_t missing = BLOCK_HEADER_BYTES - headerHeld;
        if (!ReadAtLeast(input, header + headerHeld, missing, missing, &got)) return kRunCorrupt;
        if (run.progress != nullptr) {
            double share = static_cast<double>(consumed) / static_cast<double>(run.storedSize);
            run.progress(static_cast<int>(share * 100));
        }
        if (input.pollCancel != nullptr && input.pollCancel(input.context)) return kRunCancelled;

        uint32_t word = LoadLittle32(header);
        uint32_t type = word & 7;
        uint32_t length = word >> 3;
        uint32_t bodyBytes;
        if (type == BLOCK_STORED) {
            bodyBytes = RoundUp16(length);
        } else if (type == BLOCK_COMPRESSED) {
            bodyBytes = RoundUp16(BitsToBytes(length));
        } else {
            return kRunCorrupt;
        }
        // A zero length reads as nothing; a body beyond the read buffer lies outside the format.
        if (length == 0 || bodyBytes > BLOCK_BUFFER_SIZE) return kRunCorrupt;
        consumed += BLOCK_HEADER_BYTES + bodyBytes;

        uint8_t* body = readBuffer;
        uint32_t readAhead = consumed < run.storedSize ? BLOCK_HEADER_BYTES : 0;
        if (!ReadAtLeast(input, body, bodyBytes, bodyBytes + readAhead, &got)) return kRunCorrupt;
        headerHeld = got - bodyBytes;
        memcpy(header, body + bodyBytes, headerHeld);
        memset(body + bodyBytes, 0, BODY_READ_SLACK);
        if (decipher) DecryptBuffer(body, bodyBytes, run.password);

        const uint8_t* output;
        uint32_t outputBytes;
        if (type == BLOCK_COMPRESSED) {
            uint8_t* out = run.destination;
            uint64_t room = run.destinationSize;
            if (!fileMode) {
                out += delivered;
                room -= delivered;
            }
            uint32_t capacity =
                room < BLOCK_BUFFER_SIZE ? static_cast<uint32_t>(room) : BLOCK_BUFFER_SIZE;
            uint32_t status =
                DecodeCompressedBlock(body, bodyBytes, contextTable, out, capacity, &outputBytes);
            if (status != kBlockOk) return status;
            output = out;
        } else {
            if (!fileMode && length > run.destinationSize - delivered) return kRunCorrupt;
            output = body;
            outputBytes = length;
        }
        if (outputBytes == 0) continue;

        crc.Update(output, outputBytes);
        if (fileMode) {
            if (!run.sink(run.sinkContext, output, outputBytes)) return kRunDiskFull;
        } else {
            if (output == body) memcpy(run.destination + delivered, body, outputBytes);
            delivered += outputBytes;
        }
    }

    if (run.progress != nullptr) run.progress(100);
    return crc.Value() == run.crc ? kRunOk : kRunCrcMismatch;
}

}  // namespace codec
