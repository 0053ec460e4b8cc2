// The entry decoding run: block framing, body reads into one 8 MiB buffer per run, deciphering,
// decoding, checksumming and delivery, with progress and a cancel poll at every block boundary.
// Each run owns its read buffer and its context table, so runs on separate handles can overlap.
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
constexpr size_t READ_BUFFER_BYTES = BLOCK_BUFFER_SIZE + BODY_READ_SLACK;

// Reads exactly count bytes unless the data area ends or fails first.
bool ReadExactly(const EntryInput& input, void* buffer, uint32_t count) {
    uint8_t* at = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        int64_t got = input.read(input.context, at + done, count - done);
        if (got <= 0) return false;
        if (static_cast<uint64_t>(got) > count - done) return false;
        done += static_cast<uint32_t>(got);
    }
    return true;
}

struct RunMemory {
    uint8_t* readBuffer = nullptr;
    ContextTable* contextTable = nullptr;

    ~RunMemory() {
        if (readBuffer != nullptr) platform::PageFree(readBuffer, READ_BUFFER_BYTES);
        if (contextTable != nullptr) platform::PageFree(contextTable, sizeof(ContextTable));
    }
};

}  // namespace

uint32_t DecodeEntry(const EntryInput& input, const EntryRun& run) {
    Crc32 crc;
    RunMemory memory;
    memory.readBuffer = static_cast<uint8_t*>(platform::PageAlloc(READ_BUFFER_BYTES));
    if (memory.readBuffer == nullptr) return kRunNoMemory;
    memory.contextTable = static_cast<ContextTable*>(platform::PageAlloc(sizeof(ContextTable)));
    if (memory.contextTable == nullptr) return kRunNoMemory;

    const bool fileMode = run.sink != nullptr;
    const bool decipher = run.encrypted && run.password != nullptr;
    uint64_t consumed = 0;
    uint64_t delivered = 0;  // memory mode: bytes written to the caller's buffer

    while (consumed < run.storedSize) {
        uint8_t header[BLOCK_HEADER_BYTES];
        if (!ReadExactly(input, header, BLOCK_HEADER_BYTES)) return kRunCorrupt;
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

        uint8_t* body = memory.readBuffer;
        if (!ReadExactly(input, body, bodyBytes)) return kRunCorrupt;
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
            uint32_t status = DecodeCompressedBlock(body, bodyBytes, memory.contextTable, out,
                                                    capacity, &outputBytes);
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
