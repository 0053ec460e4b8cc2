// What every command of the vorn tool shares: the terminal (is there one, hidden password input,
// questions with one-letter answers), the progress bar, the archive handle as an owning object,
// the listing of an archive's entries, and the texts made from an entry's record.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "archive/vorn.h"
#include "format/container.h"

namespace tool {

// Exit codes of the tool.
constexpr int kExitOk = 0;
constexpr int kExitEntriesFailed = 1;
constexpr int kExitUsage = 2;  // also every archive-level failure

using format::kCommentName;

bool StdinIsTerminal();
bool StderrIsTerminal();

// Ctrl-C and SIGTERM set a flag instead of ending the process, so that a command can cancel the
// running extraction and remove its unfinished files.
void CatchInterrupt();
bool Interrupted();

// Reads one line from the controlling terminal with echo off; nullopt when there is no terminal
// or the input ended.
std::optional<std::string> ReadHiddenLine(const std::string& prompt);

// Asks on the terminal and returns the first character of the answer, lowered; 0 at end of input.
char AskChoice(const std::string& question);

// The password from a file: its first line, without the line end.
std::optional<std::string> ReadPasswordFile(const std::string& path, std::string& error);

// Owns one open archive.
class Archive {
  public:
    Archive() = default;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;
    ~Archive() { Close(); }

    uint32_t Open(const std::string& path, const char* password);
    void Close();
    void* handle() const { return handle_; }

  private:
    void* handle_ = nullptr;
};

// Opens the archive for a command. When the name table is enciphered and no password was given,
// asks for one on a terminal. Prints the reason of a failure and returns false.
// password is updated with the one that opened the archive, if any.
bool OpenForCommand(Archive& archive, const std::string& path, std::optional<std::string>& password,
                    bool quiet);

// Every entry of the archive, in directory order. Prints the failure and returns false.
bool ReadDirectory(Archive& archive, std::vector<VORN_FILEINFO>& entries);

// The text of a status code, and the text for a failed entry: status 9 (and 3) on an enciphered
// entry tried with a password is a wrong password rather than damaged data.
std::string StatusText(uint32_t status);
std::string EntryFailureText(uint32_t status, bool encrypted, bool passwordGiven);

// Local time, ISO style ("2024-05-01 14:03:07"), of a Windows FILETIME; "-" for 0.
std::string FormatFileTime(uint64_t fileTime);
uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
// Seconds and nanoseconds since 1970 of a FILETIME.
void UnixFromFileTime(uint64_t fileTime, int64_t& seconds, int64_t& nanoseconds);

// "RHSA" letters with "." for each absent one, then "*" for an enciphered entry (" " otherwise).
std::string AttributeText(uint32_t attributes);

// An entry name as shown on a terminal: control bytes become "?", so a hostile name cannot send
// escape sequences to the user's terminal.
std::string Shown(const std::string& name);

std::string HumanBytes(uint64_t bytes);
std::string JsonString(const std::string& text);

// A progress bar on stderr for long work: bytes done of total, throughput and time left. Silent
// unless enabled; redraws at most ten times a second. Thread-safe.
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
