// A progress bar on stderr for long work: bytes done of total, throughput and time left. Silent
// unless enabled; redraws at most ten times a second. Thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace tool {

class ProgressBar {
  public:
    ProgressBar(bool enabled, uint64_t totalBytes, std::string label);
    ~ProgressBar();
    void Add(uint64_t bytes);                                    // work finished for good
    void SetPartial(int slot, uint64_t bytes);                   // in-flight work of one worker
    void Print(const std::string& line, FILE* stream = stderr);  // a line above the bar
    void Finish();
    bool enabled() const { return enabled_; }

    static constexpr int kSlots = 64;

  private:
    void Draw(bool force);
    bool enabled_;
    uint64_t total_;
    std::string label_;
    std::atomic<uint64_t> done_{0};
    std::atomic<uint64_t> partial_[kSlots];
    std::mutex drawLock_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    bool drawn_ = false;
    bool finished_ = false;
};

}  // namespace tool
