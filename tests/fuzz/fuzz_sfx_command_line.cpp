// Fuzz target: the self-extractors' command lines. The first byte picks the parser (even: the
// Windows switches, odd: the Linux options), the rest is split at NUL bytes into argument words.
// Whatever the words, a parser answers, names a refused word inside the list, and hands back
// values that point into the words. The quoting of Windows arguments is run on every word too.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sfx/core/command_line.h"

namespace {

bool Inside(const char* value, const std::vector<std::string>& words) {
    if (value == nullptr) return true;
    for (const std::string& w : words) {
        if (value >= w.c_str() && value <= w.c_str() + w.size()) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 4096) return 0;
    std::vector<std::string> words;
    std::string current;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty()) words.push_back(current);
    std::vector<const char*> args;
    for (const std::string& w : words) args.push_back(w.c_str());
    const int argc = static_cast<int>(args.size());

    sfx::ArgumentsStatus status;
    int bad = -1, programArgs = 0;
    if (data[0] % 2 == 0) {
        sfx::Invocation s;
        status = sfx::ParseWindowsSwitches(argc, args.data(), &s);
        if (!Inside(s.destination, words) || !Inside(s.password, words)) std::abort();
        bad = s.bad;
        programArgs = argc - s.programArgCount;
    } else {
        sfx::Invocation o;
        status = sfx::ParseConsoleOptions(argc, args.data(), &o);
        if (!Inside(o.destination, words) || !Inside(o.passwordFile, words)) std::abort();
        bad = o.bad;
        programArgs = argc - o.programArgCount;
    }
    if ((status == sfx::ArgumentsStatus::Ok) != (bad < 0)) std::abort();
    if (bad >= argc || programArgs < 0 || programArgs > argc) std::abort();

    char line[512];
    line[0] = '\0';
    for (const std::string& w : words) {
        size_t before = strlen(line);
        if (!sfx::AppendWindowsArgument(line, sizeof line, w.c_str()) && strlen(line) != before) {
            std::abort();
        }
        if (strlen(line) >= sizeof line) std::abort();
    }
    return 0;
}
