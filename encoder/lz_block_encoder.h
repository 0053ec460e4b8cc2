// The LZ block encoder (block type 2, and type 3 for solid groups): splits a block into segments,
// parses each at the least price, sends each segment's code lengths and tokens, and applies the x86
// branch filter to the block when its bytes look like code.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/lz_group_matches.h"
#include "encoder/lz_match_finder.h"
#include "encoder/lz_parse.h"
#include "format/status.h"

namespace encoder {

struct LzEncoderSettings {
    uint32_t niceLength = 128;         // a match this long is taken at once
    uint32_t searchDepth = 48;         // tree nodes a match search visits at most
    uint32_t segmentBytes = 1u << 17;  // input bytes per segment of codes
    uint32_t passes = 2;               // parses per segment, each priced by the one before
    bool wideHash = false;             // the finder's trees under four bytes (LzMatchFinder)
};

// What the LZ encoder reuses from block to block: the match finder's tables, the filtered copy of
// a block of code, a segment's matches and the block's tokens. They grow to the largest block seen
// and stay, so a state that serves block after block allocates almost nothing per block; it lives
// in encoder::EncoderState, which the writer borrows per block from its pool.
struct LzEncoderState {
    explicit LzEncoderState(const LzEncoderSettings& given = LzEncoderSettings())
        : settings(given), finder(given.niceLength, given.searchDepth, given.wideHash) {}

    LzEncoderSettings settings;
    LzMatchFinder finder;
    std::vector<uint8_t> filtered;
    LzSegmentMatches matches;
    std::vector<LzToken> tokens;
};

// Appends the LZ block (header and padded body) of data[0 .. size), 0 < size <= 8 MiB, working in
// state. InvalidArgument, appending nothing, for other sizes or a body beyond the reader's 8 MiB
// buffer; the caller stores such data.
format::Status EncodeLzBlock(const uint8_t* data, uint32_t size, LzEncoderState& state,
                             std::vector<uint8_t>& out);

// A type-3 block holds at most this much input: its body, even of bytes that do not compress,
// then stays well inside the reader's 8 MiB buffer, so a group never needs a stored block.
constexpr uint32_t kLzGroupBlockBytes = 4u << 20;

// A group's matches take longer to find than a lone block's: they reach tens of MiB, where text
// repeats long runs (logs, licences, generated headers). Taking a match at once only from 192
// bytes, not 128, made the benchmark corpus 0.34% smaller for a quarter more packing time, and
// programs 0.05% smaller for 3% more.
inline LzEncoderSettings LzGroupSettings() {
    LzEncoderSettings settings;
    settings.niceLength = 192;
    settings.wideHash = true;
    return settings;
}

// Programs repay a deep search less: on the PE corpus a search of 12 nodes that takes a match at
// once from 96 bytes packs a group in 28% less time for 1.0% more bytes, where text loses 1.7%.
inline LzEncoderSettings LzProgramGroupSettings() {
    LzEncoderSettings settings = LzGroupSettings();
    settings.niceLength = 96;
    settings.searchDepth = 12;
    return settings;
}

// The encoder of one solid group (format/solid.h): its blocks in the group's order, each an LZ
// block with history whose matches reach back into every byte of the group before it. Holds the
// group's bytes as the matches see them (x86-filtered where a block is filtered) and the finder's
// tree over all of them: about 9 bytes per byte of the group.
class LzGroupEncoder {
  public:
    explicit LzGroupEncoder(const LzEncoderSettings& settings = LzGroupSettings())
        : state_(settings), matches_(&state_.finder, settings.niceLength, settings.segmentBytes) {}
    // Takes the group's bytes, data cut into blocks of blockSizes (each 1 to kLzGroupBlockBytes,
    // at most the window together). InvalidArgument for other sizes. With findAhead, the matches
    // are found on a thread of their own while the blocks are parsed; the bytes are the same.
    format::Status Start(const uint8_t* data, const std::vector<uint32_t>& blockSizes,
                         bool findAhead = false);
    // Appends the type-3 block of the next block, in their order; InvalidArgument past the last.
    format::Status EncodeNext(std::vector<uint8_t>& out);

  private:
    LzEncoderState state_;
    LzGroupMatches matches_;  // uses state_'s finder, so it ends first
    std::vector<uint8_t> bytes_;
    std::vector<bool> filtered_;
    std::vector<uint32_t> ends_;
    size_t next_ = 0;
};

// Whether the x86 filter is worth applying to data: counts the calls and jumps whose target lies
// inside the block.
bool LzLooksLikeX86(const uint8_t* data, uint32_t size);

}  // namespace encoder
