// Which check of the format refused an archive or a block: the decoders and the archive reader
// return Status::Corrupt through CORRUPT_IF and CORRUPT, which in builds made with
// VORN_RECORD_CHECKS (debug, sanitizer and fuzz builds) also note the check's place and condition
// for the thread that ran it, so that a fuzz finding or a user's broken archive names the check
// without a debugger. In other builds nothing is noted and the macros are a bare return.
#pragma once

#include "format/status.h"

namespace format {

#if defined(VORN_RECORD_CHECKS)
constexpr bool kRecordsFailedChecks = true;

namespace detail {
inline thread_local const char* failedCheck = nullptr;
}  // namespace detail

inline Status NoteCorrupt(const char* check) {
    detail::failedCheck = check;
    return Status::Corrupt;
}
// The check that failed last on this thread ("codec/entry_run.cpp:140: header.length > room",
// the path as the compiler was given it), or null; the note is cleared.
inline const char* TakeFailedCheck() {
    const char* check = detail::failedCheck;
    detail::failedCheck = nullptr;
    return check;
}
// Notes a check another thread took (the parallel run's workers), on this thread.
inline void NoteFailedCheck(const char* check) {
    if (check != nullptr) detail::failedCheck = check;
}
#else
constexpr bool kRecordsFailedChecks = false;

inline Status NoteCorrupt(const char*) {
    return Status::Corrupt;
}
inline const char* TakeFailedCheck() {
    return nullptr;
}
inline void NoteFailedCheck(const char*) {}
#endif

// The part of a noted check after its folder names: "codec/entry_run.cpp:140: ..." whatever
// path the build gave the compiler.
inline const char* ShortCheckName(const char* check) {
    const char* start = check;
    int slashes = 0;
    const char* end = check;
    while (*end != '\0' && *end != ':') ++end;
    for (const char* at = end; at > check; --at) {
        if (at[-1] == '/' && ++slashes == 2) {
            start = at;
            break;
        }
    }
    return start;
}

}  // namespace format

#define VORN_CHECK_TEXT_(line) #line
#define VORN_CHECK_LINE_(line) VORN_CHECK_TEXT_(line)
#if defined(VORN_RECORD_CHECKS)
// Status::Corrupt, noted with its place and what: an expression, for a failure that is no bare
// condition (a status assigned, a ternary).
#define CORRUPT(what) (::format::NoteCorrupt(__FILE__ ":" VORN_CHECK_LINE_(__LINE__) ": " what))
#else
#define CORRUPT(what) (::format::Status::Corrupt)
#endif
// Returns Status::Corrupt, noted with the condition's text, when condition holds.
#define CORRUPT_IF(condition)                      \
    do {                                           \
        if (condition) return CORRUPT(#condition); \
    } while (0)
