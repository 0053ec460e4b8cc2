// Drawing the progress bar.
#include "tools/progress_bar.h"

#include <cinttypes>

#include "tools/texts.h"

namespace tool {

ProgressBar::ProgressBar(bool enabled, uint64_t totalBytes, std::string label)
    : enabled_(enabled), total_(totalBytes), label_(std::move(label)) {
    for (auto& p : partial_) p.store(0);
    start_ = lastDraw_ = std::chrono::steady_clock::now();
}

ProgressBar::~ProgressBar() {
    Finish();
}

void ProgressBar::Add(uint64_t bytes) {
    done_.fetch_add(bytes);
    Draw(false);
}

void ProgressBar::SetPartial(int slot, uint64_t bytes) {
    if (slot < 0 || slot >= kSlots) return;
    partial_[slot].store(bytes);
    Draw(false);
}

void ProgressBar::Print(const std::string& line, FILE* stream) {
    std::lock_guard<std::mutex> lock(drawLock_);
    if (enabled_ && drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    drawn_ = false;
    std::fflush(stream);
}

void ProgressBar::Finish() {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(drawLock_);
    if (finished_) return;
    finished_ = true;
    if (drawn_) std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
}

void ProgressBar::Draw(bool force) {
    if (!enabled_) return;
    std::unique_lock<std::mutex> lock(drawLock_, std::try_to_lock);
    if (!lock.owns_lock() || finished_) return;
    auto now = std::chrono::steady_clock::now();
    // Short work shows no bar at all; long work gets one within half a second.
    if (!force && now - start_ < std::chrono::milliseconds(500)) return;
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    uint64_t done = done_.load();
    for (auto& p : partial_) done += p.load();
    if (done > total_) done = total_;
    double seconds = std::chrono::duration<double>(now - start_).count();
    double rate = seconds > 0.05 ? static_cast<double>(done) / seconds : 0.0;
    double fraction = total_ ? static_cast<double>(done) / static_cast<double>(total_) : 1.0;
    constexpr int kWidth = 24;
    int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '-');
    char eta[32] = "--:--";
    if (rate > 0 && done < total_) {
        auto left = static_cast<uint64_t>(static_cast<double>(total_ - done) / rate);
        std::snprintf(eta, sizeof eta, "%02" PRIu64 ":%02" PRIu64, left / 60, left % 60);
    } else if (done >= total_) {
        std::snprintf(eta, sizeof eta, "00:00");
    }
    std::string line = "\r\033[K" + label_ + " [" + bar + "] " +
                       std::to_string(static_cast<int>(fraction * 100)) + "% " + HumanBytes(done) +
                       " of " + HumanBytes(total_) + ", " +
                       HumanBytes(static_cast<uint64_t>(rate)) + "/s, " + eta + " left";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace tool
