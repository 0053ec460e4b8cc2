// The cut's units pass from the finding thread to the parse through a short queue; the parse gives
// each unit back when it has passed it, and the thread refills that unit's vectors, so a group's
// hundreds of units reuse the memory of a few.
#include "encoder/lz_group_matches.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace encoder {

void LzGroupMatches::Start(const uint8_t* data, const std::vector<uint32_t>& ends, bool onThread) {
    Stop();
    data_ = data;
    ends_ = ends;
    block_ = 0;
    at_ = 0;
    current_.first = 0;
    current_.start.clear();
    ready_.clear();
    finished_ = false;
    stopping_ = false;
    threaded_ = false;
    if (!onThread) return;
    try {
        thread_ = std::thread([this] { FindAhead(); });
        threaded_ = true;
    } catch (const std::system_error&) {
        // No thread to be had: the units are found when the parse asks, as without one.
    }
}

void LzGroupMatches::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
    threaded_ = false;
}

bool LzGroupMatches::FindNext(LzSegmentMatches* unit) {
    if (block_ >= ends_.size()) return false;
    const uint32_t blockEnd = ends_[block_];
    const uint32_t stop = std::min<uint64_t>(uint64_t{at_} + segmentBytes_, blockEnd);
    FindSegmentMatches(finder_, data_, blockEnd, at_, stop, niceLength_, unit);
    at_ = stop;
    if (at_ == blockEnd) ++block_;
    return true;
}

void LzGroupMatches::FindAhead() {
    for (;;) {
        LzSegmentMatches unit;
        {
            std::unique_lock<std::mutex> guard(mutex_);
            changed_.wait(guard, [this] { return stopping_ || ready_.size() < kAhead; });
            if (stopping_) return;
            if (!spare_.empty()) {
                unit = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        const bool found = FindNext(&unit);
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (found) {
                ready_.push_back(std::move(unit));
            } else {
                finished_ = true;
            }
        }
        changed_.notify_all();
        if (!found) return;
    }
}

// Replaces current_ by the cut's next unit; false past the last.
bool LzGroupMatches::Advance() {
    if (!threaded_) return FindNext(&current_);
    std::unique_lock<std::mutex> guard(mutex_);
    spare_.push_back(std::move(current_));
    changed_.wait(guard, [this] { return !ready_.empty() || finished_; });
    if (ready_.empty()) return false;
    current_ = std::move(ready_.front());
    ready_.pop_front();
    guard.unlock();
    changed_.notify_all();
    return true;
}

const LzSegmentMatches& LzGroupMatches::UnitAt(uint32_t at) {
    while (current_.start.empty() || EndOf(current_) <= at) {
        if (!Advance()) {
            // Asked past the group's end, which the parse never does: a position with no
            // matches keeps it within what it was given.
            current_.first = at;
            current_.start.assign(2, 0);
            current_.matches.clear();
            break;
        }
    }
    return current_;
}

}  // namespace encoder
