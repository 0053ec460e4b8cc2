// What the tool shows and asks on the terminal: hidden password input, one-letter questions,
// Ctrl-C turned into a flag, the progress bar, JSON strings, the texts made from what the library
// reports (statuses, attributes, names, byte counts) and times.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "format/entry_name.h"
#include "format/status.h"

namespace tool {

// Reads one line from the terminal with echo off; nullopt when there is no terminal or the input
// ended.
std::optional<std::string> ReadHiddenLine(const std::string& prompt);

// Asks on the terminal and returns the first character of the answer, lowered; 0 at end of input.
char AskChoice(const std::string& question);

// Ctrl-C and SIGTERM set a flag instead of ending the process, so that a command can cancel the
// running extraction and remove its unfinished files.
void CatchInterrupt();
bool Interrupted();

class ProgressBar {
  public:
    ProgressBar(bool enabled, uint64_t totalBytes, std::string label);
    ~ProgressBar();
    void Add(int slot, uint64_t bytes);                          // one worker's finished work
    void SetPartial(int slot, uint64_t bytes);                   // in-flight work of one worker
    void Print(const std::string& line, FILE* stream = stderr);  // a line above the bar
    void Finish();
    bool enabled() const { return enabled_; }

    static constexpr int kSlots = 64;

  private:
    // Short work shows no bar at all; long work gets one within half a second.
    static constexpr std::chrono::milliseconds kQuietStart{500};
    static constexpr std::chrono::milliseconds kRedrawEvery{100};

    void Draw(bool force);
    bool enabled_;
    uint64_t total_;
    std::string label_;
    // Each worker's counts on a cache line of their own: workers on other cores update them for
    // every entry, and a line they shared would travel between the cores each time.
    struct alignas(64) Slot {
        std::atomic<uint64_t> done{0};
        std::atomic<uint64_t> partial{0};
    };
    Slot slots_[kSlots];
    // Steady-clock ticks before which no draw is due: checked before the lock, which the workers
    // would otherwise take turns at for every update.
    std::atomic<int64_t> nextDraw_{0};
    std::mutex drawLock_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    bool drawn_ = false;
    bool finished_ = false;
};

// The text quoted and escaped; always valid UTF-8, whatever bytes the text holds.
std::string JsonString(const std::string& text);

// The text of a status, as the library's vorn_GetErrorString gives it for the status's code, and
// the text for a failed entry: a CRC mismatch (or damage) of an enciphered entry tried with a
// password is a wrong password rather than damaged data.
std::string StatusText(format::Status status);
std::string EntryFailureText(format::Status status, bool encrypted, bool passwordGiven);

// Why an entry name is refused: the words every reader uses, and the reason for this name.
std::string RefusedNameText(format::EntryNameVerdict verdict);

// "RHSA" letters with "." for each absent one, then "*" for an enciphered entry (" " otherwise).
std::string AttributeText(uint32_t attributes);

// A text from an archive as shown on a terminal (format/text_bytes.h): control bytes, C1 controls
// and bytes that are not UTF-8 as "\xNN", so a hostile name can neither send escape sequences to
// the user's terminal nor start a line of its own. ShownText keeps a comment's line ends and tabs.
std::string Shown(const std::string& name);
std::string ShownText(const std::string& text);

// "512 B", "1.5 KiB", "3.2 GiB".
std::string HumanBytes(uint64_t bytes);

// Local time, ISO style ("2024-05-01 14:03:07"), of a FILETIME; "-" for 0.
std::string FormatFileTime(uint64_t fileTime);

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
// Seconds and nanoseconds since 1970 of a FILETIME.
void UnixFromFileTime(uint64_t fileTime, int64_t& seconds, int64_t& nanoseconds);

}  // namespace tool
