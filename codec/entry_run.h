// The entry decoding run: reads an entry's data area block by block, deciphers enciphered bodies,
// decodes compressed blocks or takes stored ones as they are, checksums the output, delivers it to
// a sink or a memory area, reports progress and polls for a cancel between blocks. It knows
// nothing of archives: the caller positions the data and supplies the reads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/block_decoder.h"

namespace codec {

// Size of the run's read buffer and of a file extraction's staging area; bounds a block body and
// a compressed block's output.
constexpr uint32_t BLOCK_BUFFER_SIZE = 0x800000;
// The read buffer also holds the slack the block decoder may read past a body.
constexpr size_t RUN_READ_BUFFER_BYTES = BLOCK_BUFFER_SIZE + BODY_READ_SLACK;

// The run's results are the library's status codes.
enum RunStatus : uint32_t {
    kRunOk = 0,
    kRunCancelled = 2,
    kRunCorrupt = 3,
    kRunDiskFull = 6,
    kRunCrcMismatch = 9,
    kRunNoMemory = 11,
};

struct EntryInput {
    void* context;
    // Reads up to count bytes of the data area, sequentially from its start; returns the bytes
    // read (fewer only at end of file), or -1 on error.
    int64_t (*read)(void* context, void* buffer, uint32_t count);
    // True when a cancel was signalled since the last poll; the poll consumes the signal.
    bool (*pollCancel)(void* context);
};

// Receives one block's output; returns false when the bytes could not all be written.
typedef bool (*BlockSink)(void* context, const uint8_t* bytes, uint32_t count);

struct EntryRun {
    uint64_t storedSize;       // length of the data area
    uint32_t crc;              // CRC-32 the decoded data must have
    bool encrypted;            // the record's encrypted byte is set
    const char* password;      // operation password, may be null
    uint8_t* destination;      // memory mode: the caller's buffer; file mode: the staging area
    uint64_t destinationSize;  // memory mode: the entry's unpacked size; file mode: staging size
    BlockSink sink;            // null: memory mode
    void* sinkContext;
    void (*progress)(int percent);  // may be null
    // Working memory the caller keeps from run to run (see RunMemory); either may be null, and
    // the run then maps its own and unmaps it when it returns. Fresh pages cost a fault each on
    // first touch, which for a small entry outweighs its whole decoding.
    uint8_t* readBuffer;  // RUN_READ_BUFFER_BYTES
    ContextTable* contextTable;
};

// The read buffer and context table of runs that follow one another on one thread. Nothing of
// one run's contents matters to the next: every body is read before it is used, and every block
// starts the context table afresh.
struct RunMemory {
    uint8_t* readBuffer;
    ContextTable* contextTable;
};

// Maps whichever part is still missing; false when one cannot be mapped (what was mapped stays
// for UnmapRunMemory to release).
bool MapRunMemory(RunMemory* memory);
// Releases both parts and leaves them null.
void UnmapRunMemory(RunMemory* memory);

// Returns kRunOk, kRunCancelled, kRunCorrupt, kRunDiskFull (sink refused bytes), kRunCrcMismatch
// or kRunNoMemory (read buffer or context table unavailable; nothing has been read then).
uint32_t DecodeEntry(const EntryInput& input, const EntryRun& run);

}  // namespace codec
