// The entry decoding run on several threads. Blocks stand alone, so the blocks of one entry can be
// decoded at once: the caller's thread reads the data area block by block, exactly as the
// sequential run does (progress and cancel poll before each block), each worker thread deciphers
// and decodes a block in memory of its own, and the caller checksums and delivers the outputs in
// order. The result is that of the sequential run: the same bytes reach the sink, and a damaged
// block ends the entry with the same status after the same blocks. Sink mode only.
#pragma once

#include "codec/entry_run.h"

namespace codec {

// The memory of one block in flight; a run of N threads maps N + 1 of them.
constexpr size_t PARALLEL_RUN_BYTES_PER_BLOCK =
    RUN_READ_BUFFER_BYTES + BLOCK_BUFFER_SIZE + sizeof(ContextTable);

// run.sink must be set; run.memory is not used: the run maps memory of its own for threads + 1
// blocks. threads below 2, or an entry of a solid group (run.history), run the sequential
// DecodeEntry.
format::Status DecodeEntryParallel(const EntryInput& input, const EntryRun& run, unsigned threads);

}  // namespace codec
