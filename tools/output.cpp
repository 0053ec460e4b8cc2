// Prompts and answers, the interrupt flag, the progress bar, JSON quoting, status and name texts,
// and times between FILETIME and Unix.
#include "tools/output.h"

#include <cinttypes>
#include <ctime>

#include "archive/extraction.h"
#include "archive/vorn.h"
#include "format/container.h"
#include "format/display_text.h"
#include "format/text_bytes.h"
#include "format/utf8.h"
#include "tools/system.h"

namespace tool {

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt() {
    g_interrupted.store(true);
}

// One line from standard input, read byte by byte so nothing beyond it is consumed; false when
// standard input ended before any byte came.
bool ReadInputLine(std::string& line) {
    bool any = false;
    char c;
    while (os::ReadStdinByte(c)) {
        any = true;
        if (c == '\n' || c == '\r') break;
        line.push_back(c);
    }
    return any;
}

}  // namespace

std::optional<std::string> ReadHiddenLine(const std::string& prompt) {
    if (!os::StdinIsTerminal()) return std::nullopt;
    std::string line;
    // Room for any password, so that growing the text leaves no copy of what was typed behind.
    line.reserve(1024);
    bool any;
    {
        // Echo goes off before the prompt shows, so no answer typed after it is ever echoed.
        os::InputEchoOff hidden;
        std::fputs(prompt.c_str(), stderr);
        std::fflush(stderr);
        any = ReadInputLine(line);
    }
    if (!any) {
        std::fputc('\n', stderr);
        return std::nullopt;
    }
    return line;
}

char AskChoice(const std::string& question) {
    std::fputs(question.c_str(), stderr);
    std::fflush(stderr);
    std::string line;
    bool any = ReadInputLine(line);
    if (!any) return 0;
    for (char c : line) {
        if (c != ' ' && c != '\t') return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    return '\n';
}

void CatchInterrupt() {
    os::CallOnInterrupt(OnInterrupt);
}

bool Interrupted() {
    return g_interrupted.load();
}

ProgressBar::ProgressBar(bool enabled, uint64_t totalBytes, std::string label)
    : enabled_(enabled), total_(totalBytes), label_(std::move(label)) {
    start_ = lastDraw_ = std::chrono::steady_clock::now();
    nextDraw_.store((start_ + kQuietStart).time_since_epoch().count());
}

ProgressBar::~ProgressBar() {
    Finish();
}

// Without a bar nothing reads the counts, so they are not kept.
void ProgressBar::Add(int slot, uint64_t bytes) {
    if (!enabled_ || slot < 0 || slot >= kSlots) return;
    slots_[slot].done.fetch_add(bytes, std::memory_order_relaxed);
    Draw(false);
}

void ProgressBar::SetPartial(int slot, uint64_t bytes) {
    if (!enabled_ || slot < 0 || slot >= kSlots) return;
    slots_[slot].partial.store(bytes, std::memory_order_relaxed);
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
    // The bar comes back at the next update.
    nextDraw_.store((start_ + kQuietStart).time_since_epoch().count());
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
    auto now = std::chrono::steady_clock::now();
    if (!force && now.time_since_epoch().count() < nextDraw_.load(std::memory_order_relaxed)) {
        return;
    }
    std::unique_lock<std::mutex> lock(drawLock_, std::try_to_lock);
    if (!lock.owns_lock() || finished_) return;
    if (!force && now - start_ < kQuietStart) return;
    if (!force && drawn_ && now - lastDraw_ < kRedrawEvery) return;
    lastDraw_ = now;
    nextDraw_.store((now + kRedrawEvery).time_since_epoch().count(), std::memory_order_relaxed);
    uint64_t done = 0;
    for (const Slot& slot : slots_) done += slot.done.load() + slot.partial.load();
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

namespace {

void AppendJsonAscii(std::string& out, unsigned char c) {
    switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (format::IsControlByte(c)) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
    }
}

}  // namespace

std::string JsonString(const std::string& text) {
    // Names are UTF-8 and pass as they are. A byte that is not part of a UTF-8 sequence (a name
    // an older writer stored in a Windows code page) becomes the character of the same number, its
    // Latin-1 reading, so the output is always valid UTF-8.
    std::string out = "\"";
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t at = 0; at < text.size();) {
        size_t length = format::Utf8SequenceLength(bytes + at, text.size() - at);
        if (length == 0) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", bytes[at]);
            out += escape;
            ++at;
        } else if (length == 1) {
            AppendJsonAscii(out, bytes[at++]);
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out + "\"";
}

std::string StatusText(format::Status status) {
    std::string text = archive::StatusText(status);
    uint32_t code = archive::PublicCode(status);
    if (code > VORN_E_OLD_FORMAT) text += " (status " + std::to_string(code) + ")";
    return text;
}

std::string EntryFailureText(format::Status status, bool encrypted, bool passwordGiven) {
    using format::Status;
    if (encrypted && passwordGiven && status == Status::CrcMismatch) return "wrong password";
    if (encrypted && passwordGiven && status == Status::Corrupt) {
        return "wrong password or damaged data (" + StatusText(status) + ")";
    }
    if (encrypted && status == Status::PasswordNeeded) {
        return "needs a password (" + StatusText(status) + ")";
    }
    return StatusText(status);
}

std::string RefusedNameText(format::EntryNameVerdict verdict) {
    std::string sentence = format::kEntryLeavesDestination;
    sentence.pop_back();  // its full stop comes after the reason
    return sentence + " (" + format::EntryNameReason(verdict) + ").";
}

std::string AttributeText(uint32_t attributes) {
    std::string text;
    text += (attributes & format::kAttributeReadOnly) ? 'R' : '.';
    text += (attributes & format::kAttributeHidden) ? 'H' : '.';
    text += (attributes & format::kAttributeSystem) ? 'S' : '.';
    text += (attributes & format::kAttributeArchive) ? 'A' : '.';
    text += (attributes & VORN_ATTR_ENCRYPTED) ? '*' : ' ';
    return text;
}

std::string Shown(const std::string& name) {
    return format::DisplayText(name, format::kDisplayUtf8);
}

std::string ShownText(const std::string& text) {
    return format::DisplayText(text, format::kDisplayUtf8 | format::kDisplayKeepLayout);
}

std::string HumanBytes(uint64_t bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
    } else {
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    }
    return text;
}

namespace {

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

}  // namespace

std::string FormatFileTime(uint64_t fileTime) {
    if (fileTime == 0) return "-";
    int64_t seconds, nanoseconds;
    UnixFromFileTime(fileTime, seconds, nanoseconds);
    tm local{};
    if (!os::LocalTime(seconds, local)) return "-";
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
    int64_t ticks = seconds * 10000000 + nanoseconds / 100;
    if (ticks < -static_cast<int64_t>(kUnixEpochAsFileTime)) return 0;
    return kUnixEpochAsFileTime + static_cast<uint64_t>(ticks);
}

void UnixFromFileTime(uint64_t fileTime, int64_t& seconds, int64_t& nanoseconds) {
    int64_t ticks = static_cast<int64_t>(fileTime - kUnixEpochAsFileTime);
    seconds = ticks / 10000000;
    int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    nanoseconds = rest * 100;
}

}  // namespace tool
