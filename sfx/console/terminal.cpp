// The Linux self-extractor's terminal: lines, prompts, the progress bar, questions and Ctrl-C.
#include "sfx/console/terminal.h"

#include <errno.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>

#include "format/display_text.h"
#include "sfx/core/sfx_core.h"

namespace console {

volatile sig_atomic_t g_interrupted = 0;
Terminal g_terminal;

namespace {

void OnInterrupt(int) {
    g_interrupted = 1;
    // The walk tests the flag before every entry, and the progress callback hands it on to the
    // library within one block.
    sfx::g_bCancel = true;
}

std::string Shown(const std::string& text, unsigned flags) {
    return format::DisplayText(text, flags);
}

}  // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}
bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

std::optional<std::string> ReadLine(const std::string& prompt, bool hidden) {
    termios saved{};
    bool restore = hidden && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    g_terminal.Prompt(prompt);
    std::string line;
    bool any = false;
    for (;;) {
        char c;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR && !g_interrupted) continue;
        if (n <= 0) break;
        any = true;
        if (c == '\n' || c == '\r') break;
        line.push_back(c);
    }
    if (restore) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    if (!any) return std::nullopt;
    return line;
}

void Terminal::Line(FILE* stream, const std::string& text, unsigned flags) {
    std::lock_guard<std::mutex> lock(lock_);
    ClearBar();
    std::fprintf(stream, "%s\n", Shown(text, flags).c_str());
    std::fflush(stream);
}

void Terminal::Prompt(const std::string& text) {
    std::lock_guard<std::mutex> lock(lock_);
    ClearBar();
    std::fputs(Shown(text, format::kDisplayUtf8).c_str(), stdout);
    std::fflush(stdout);
}

void Terminal::Bar(int percent, const std::string& current, const std::string& count) {
    if (!StdoutIsTerminal()) return;
    std::lock_guard<std::mutex> lock(lock_);
    constexpr int kWidth = 30;
    int filled = percent * kWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '-');
    std::string line = "[" + bar + "] " + std::to_string(percent) + "%  " + count;
    if (!current.empty()) line += "  " + Shown(current, format::kDisplayUtf8);
    if (line.size() > 150) line.resize(150);
    std::printf("\r\033[K%s", line.c_str());
    std::fflush(stdout);
    barShown_ = true;
}

void Terminal::EndBar() {
    std::lock_guard<std::mutex> lock(lock_);
    ClearBar();
}

void Terminal::ClearBar() {
    if (!barShown_) return;
    std::fputs("\r\033[K", stdout);
    barShown_ = false;
}

int Ask(const char* text, const char* caption, unsigned style, int unattendedAnswer) {
    bool withCancel = (style & 0xF) == sfx::kBoxYesNoCancel;
    if (!StdinIsTerminal()) {
        g_terminal.Line(stdout, std::string(caption) + ": " + text + " " +
                                    (unattendedAnswer == sfx::kAnswerYes  ? "Yes"
                                     : unattendedAnswer == sfx::kAnswerNo ? "No"
                                                                          : "Cancel") +
                                    " (no terminal to ask)");
        return unattendedAnswer;
    }
    for (;;) {
        std::optional<std::string> answer =
            ReadLine(std::string(caption) + ": " + text +
                         (withCancel ? " [y]es, [n]o, [c]ancel: " : " [y/n]: "),
                     false);
        if (!answer) return withCancel ? sfx::kAnswerCancel : sfx::kAnswerNo;
        char c = answer->empty() ? 0 : static_cast<char>(std::tolower((*answer)[0]));
        if (c == 'y') return sfx::kAnswerYes;
        if (c == 'n') return sfx::kAnswerNo;
        if (withCancel && c == 'c') return sfx::kAnswerCancel;
    }
}

int ShowBox(const char* text, const char* caption, unsigned style, int unattendedAnswer) {
    unsigned buttons = style & 0xF;
    if (buttons == sfx::kBoxYesNo || buttons == sfx::kBoxYesNoCancel) {
        return Ask(text, caption, style, unattendedAnswer);
    }
    bool error = (style & 0xF0) == sfx::kBoxIconError;
    g_terminal.Line(error ? stderr : stdout, std::string(caption) + ": " + text);
    return sfx::kAnswerOk;
}

}  // namespace console
