// The run's log (/LOG=FILE, --log FILE): one line per entry, error and decision, each behind its
// time stamp in ISO 8601 UTC, appended to the file the invocation names. The one writer of it,
// over the platform's file calls; a password is never handed to it. Lines are escaped as every
// console line is, so a name can never start a line of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sfx/core/sfx_core.h"

namespace sfx {

constexpr size_t kTimeStampBytes = 21;  // "2026-12-10T00:05:00Z" and the NUL

// seconds since 1970-01-01 00:00 UTC as "YYYY-MM-DDThh:mm:ssZ" into out (kTimeStampBytes).
void FormatTimeStamp(int64_t seconds, char* out);

// Opens the invocation's log when it names one; true when it names none or it opened. A log that
// cannot be opened is said (in a box when box, else on the console), and nothing else is done.
bool OpenRunLog(Platform& platform, bool box);
void CloseRunLog(Platform& platform);

// One line: the time stamp, then first and (when not null) a space and second.
void LogLine(Platform& platform, const char* first, const char* second = nullptr);

// A box shown and, for a question, its answer: "caption: text" and the button chosen.
void LogBox(Platform& platform, const char* text, const char* caption, unsigned style, int answer);

// An error line for the console, logged too.
void PrintError(Platform& platform, const char* text);

// The licence's decision, as the licence dialog or its switches take it.
void LogLicence(Platform& platform, bool accepted);

}  // namespace sfx
