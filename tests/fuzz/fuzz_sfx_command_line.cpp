// Fuzz target: the self-extractors' command lines. The first byte picks the parser (even: the
// Windows switches, odd: the Linux options), the rest is split at NUL bytes into argument words.
// Whatever the words, a parser answers, names a refused word inside the list, and hands back
// values that point into the words. A refused word is shown within its buffer, never with what
// follows its "=". The quoting of Windows arguments is run on every word too, and the bytes after
// the first one are read as a password file's start.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "format/password_file.h"
#include "sfx/core/command_line.h"

namespace {

bool Inside(const char* value, const std::vector<std::string>& words) {
    if (value == nullptr) return true;
    for (const std::string& w : words) {
        if (value >= w.c_str() && value <= w.c_str() + w.size()) return true;
    }
    return false;
}

// The shown word fits its buffer, is a prefix of the word (with "..." when cut), and stops before
// the word's first "=".
void CheckShown(const sfx::Invocation& invocation) {
    char shown[64];
    memset(shown, 'x', sizeof shown);
    sfx::ShownRefusedWord(invocation, shown, sizeof shown);
    if (memchr(shown, 0, sizeof shown) == nullptr) std::abort();
    const char* word = invocation.refused;
    size_t kept = strlen(shown);
    if (kept >= 3 && strcmp(shown + kept - 3, "...") == 0 && strncmp(shown, word, kept) != 0) {
        kept -= 3;
    }
    if (strncmp(shown, word, kept) != 0) std::abort();
    const char* equals = strchr(word, '=');
    bool lead = word[0] == '/' || word[0] == '-';
    if (lead && equals != nullptr && kept > static_cast<size_t>(equals - word)) std::abort();
}

void CheckPasswordFile(const uint8_t* data, size_t size) {
    size_t count = size < format::kPasswordFileReadBytes ? size : format::kPasswordFileReadBytes;
    const char* bytes = reinterpret_cast<const char*>(data);
    size_t length = 0;
    if (format::PasswordLineOf(bytes, count, &length) != format::PasswordFileStatus::Ok) return;
    if (length == 0 || length > format::kMaxPasswordBytes || length > count) std::abort();
    if (memchr(bytes, '\n', length) != nullptr || memchr(bytes, 0, length) != nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 4096) return 0;
    CheckPasswordFile(data + 1, size - 1);
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
        if (!Inside(s.passwordFile, words)) std::abort();
        if (status != sfx::ArgumentsStatus::Ok) CheckShown(s);
        bad = s.bad;
        programArgs = argc - s.programArgCount;
    } else {
        sfx::Invocation o;
        status = sfx::ParseConsoleOptions(argc, args.data(), &o);
        if (!Inside(o.destination, words) || !Inside(o.passwordFile, words)) std::abort();
        if (status != sfx::ArgumentsStatus::Ok) CheckShown(o);
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
