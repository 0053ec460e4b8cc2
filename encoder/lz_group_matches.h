// The matches of a solid group, found unit by unit in a fixed cut: each block in pieces of
// segmentBytes from its start. The cut depends on the group's bytes alone, not on where the parse's
// tokens end, so the matches can be found ahead of the parse on a thread of their own, which is
// most of a group's packing time. Found ahead or found when asked, they are the same matches, and
// the group's bytes do not depend on the thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "encoder/lz_match_finder.h"
#include "encoder/lz_parse.h"

namespace encoder {

class LzGroupMatches {
  public:
    LzGroupMatches(LzMatchFinder* finder, uint32_t niceLength, uint32_t segmentBytes)
        : finder_(finder), niceLength_(niceLength), segmentBytes_(segmentBytes) {}
    ~LzGroupMatches() { Stop(); }
    LzGroupMatches(const LzGroupMatches&) = delete;
    LzGroupMatches& operator=(const LzGroupMatches&) = delete;

    // Starts the cut of data, whose blocks end at ends; the finder was reset to data. With
    // onThread, a thread finds the units ahead (when the system gives one).
    void Start(const uint8_t* data, const std::vector<uint32_t>& ends, bool onThread);
    // Ends the thread, if one runs: the finder is then free to be reset.
    void Stop();
    // The unit that holds position at, which lies past every position asked for before; the
    // units before it are dropped, as the parse has passed them.
    const LzSegmentMatches& UnitAt(uint32_t at);
    // Where a unit ends: the unit after it, or the end of its block.
    static uint32_t EndOf(const LzSegmentMatches& unit) {
        return unit.first + static_cast<uint32_t>(unit.start.size()) - 1;
    }

  private:
    // Finds the next unit of the cut into unit; false past the last.
    bool FindNext(LzSegmentMatches* unit);
    bool Advance();
    void FindAhead();

    // At most this many units wait found: each holds a few bytes per position of its segment.
    static constexpr size_t kAhead = 2;
    LzMatchFinder* finder_;
    const uint32_t niceLength_;
    const uint32_t segmentBytes_;
    const uint8_t* data_ = nullptr;
    std::vector<uint32_t> ends_;
    size_t block_ = 0;  // the cut's next unit: in this block, from position at_
    uint32_t at_ = 0;
    LzSegmentMatches current_;
    bool threaded_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<LzSegmentMatches> ready_;   // found, in the cut's order
    std::vector<LzSegmentMatches> spare_;  // given back, so their memory serves the next units
    bool finished_ = false;                // the thread found the last unit
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace encoder
