// Prompts, answers and the interrupt flag.
#include "tools/terminal.h"

#include <atomic>
#include <cstdio>

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

}  // namespace tool
