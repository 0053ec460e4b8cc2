// The entry decoding run: reads an entry's data area block by block, deciphers enciphered bodies,
// decodes compressed blocks or takes stored ones as they are, checksums the output, delivers it to
// a sink or a memory area, reports progress and polls for a cancel between blocks. It knows
// nothing of archives: the caller positions the data and supplies the reads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/compressed_block_decoder.h"
#include "codec/lz_block_decoder.h"
#include "format/block.h"
#include "format/status.h"

namespace codec {

constexpr uint32_t BLOCK_BUFFER_SIZE = format::kBlockBufferSize;
// The read buffer also holds the slack the block decoder may read past a body.
constexpr size_t RUN_READ_BUFFER_BYTES = BLOCK_BUFFER_SIZE + BODY_READ_SLACK;

struct EntryInput {
    void* context;
    // Reads up to count bytes of the data area, sequentially from its start; returns the bytes
    // read (fewer only at end of file), or -1 on error.
    int64_t (*read)(void* context, void* buffer, uint32_t count);
    // True when a cancel was signalled since the last poll; the poll consumes the signal.
    bool (*pollCancel)(void* context);
};

// Receives one block's output; returns false when the bytes could not all be taken.
struct BlockSink {
    bool (*take)(void* context, const uint8_t* bytes, uint32_t count);
    void* context;
};

// Receives a whole percentage of the data area read, before each block and 100 at the end.
struct ProgressReport {
    void (*report)(void* context, int percent);
    void* context;
};

// The read buffer, context table and staging area of runs that follow one another on one thread.
// Nothing of one run's contents matters to the next: every body is read before it is used, every
// block starts the context table afresh and fills its staging output before delivering it.
struct RunMemory {
    uint8_t* readBuffer;         // RUN_READ_BUFFER_BYTES
    ContextTable* contextTable;  // sizeof(ContextTable); an LZ block's code tables use it too
    uint8_t* staging;            // BLOCK_BUFFER_SIZE: where compressed blocks are decoded
};

struct EntryRun {
    uint64_t storedSize;  // length of the data area
    uint32_t crc;         // CRC-32 the decoded data must have
    bool encrypted;       // the record's encrypted byte is set
    bool lzBlocks;        // the archive's header allows LZ blocks (type 2)
    // The decoded bytes of the entries before this one in its solid group, which its type-3
    // blocks reach back into; every block's output joins them. Null: the entry stands alone and
    // a type-3 block is corrupt.
    LzHistory* history;
    const char* password;  // operation password, may be null
    // The record's unpacked size, a limit and a promise: a block whose output would pass it stops
    // the run there with Corrupt, undelivered, and a run whose blocks end short of it is Corrupt.
    uint64_t unpackedSize;
    // Memory mode (sink.take null): the caller's buffer of unpackedSize bytes, which receives
    // exactly the decoded bytes and nothing past them.
    uint8_t* destination;
    BlockSink sink;           // sink mode: every block's output, in order
    ProgressReport progress;  // report may be null
    // Working memory the caller keeps from run to run; whichever part is null, the run maps for
    // itself and unmaps when it returns. Fresh pages cost a fault each on first touch, which for
    // a small entry outweighs its whole decoding.
    RunMemory memory;
};

static_assert(sizeof(LzDecodeTables) <= sizeof(ContextTable),
              "an LZ block's code tables live in the context table's memory");

// Maps whichever part is still missing; false when one cannot be mapped (what was mapped stays
// for UnmapRunMemory to release).
bool MapRunMemory(RunMemory* memory);
// Releases every part and leaves them null.
void UnmapRunMemory(RunMemory* memory);

// Ok, Cancelled, Corrupt (also for output past or short of run.unpackedSize), DiskFull (the sink
// refused bytes), CrcMismatch, or NoMemory (working memory unavailable; nothing has been read
// then).
format::Status DecodeEntry(const EntryInput& input, const EntryRun& run);

}  // namespace codec
