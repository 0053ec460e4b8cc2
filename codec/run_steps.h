// The steps of a decoding run, shared by the sequential run (entry_run.cpp) and the parallel one
// (parallel_run.cpp): reading the data area block by block, and turning one block's body into its
// output.
#pragma once

#include <cstdint>

#include "codec/entry_run.h"
#include "format/block.h"
#include "format/status.h"

namespace codec::steps {

using format::Status;

// Reads the data area block by block. A block's body is read together with the header of the
// block after it, one read per block rather than two.
class BlockReader {
  public:
    BlockReader(const EntryInput& input, const EntryRun& run) : input_(input), run_(run) {}

    bool More() const { return consumed_ < run_.storedSize; }
    // The next block: reads its header, reports progress, polls for a cancel and checks the
    // header. Ok, Cancelled, or Corrupt.
    Status Start(format::BlockHeader* header, uint32_t* bodyBytes);
    // The started block's body into body (RUN_READ_BUFFER_BYTES), its slack cleared. Ok or
    // Corrupt.
    Status ReadBody(uint8_t* body, uint32_t bodyBytes);

  private:
    const EntryInput& input_;
    const EntryRun& run_;
    uint64_t consumed_ = 0;
    uint8_t header_[format::kBlockHeaderBytes];
    uint32_t headerHeld_ = 0;  // header bytes that came with the previous body
};

// One block's output from its body: deciphered when the run says so, then decoded (into staging,
// never into the caller's memory, where the decoder's whole-word copies would leave bytes behind
// the output) or taken as it is. room bounds the output.
Status BlockOutput(const EntryRun& run, const format::BlockHeader& header, uint8_t* body,
                   uint32_t bodyBytes, uint64_t room, ContextTable* table, uint8_t* staging,
                   const uint8_t** output, uint32_t* outputBytes);

}  // namespace codec::steps
