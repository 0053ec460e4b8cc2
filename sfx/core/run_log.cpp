// The run's log: time stamps, the open that must work before anything is extracted, and lines.
#include "sfx/core/run_log.h"

#include "format/text_bytes.h"
#include "sfx/core/messages.h"
#include "sfx/core/text.h"

namespace sfx {

namespace {

void TwoDigits(char* out, unsigned value) {
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

// The civil date of a day count since 1970-01-01, proleptic Gregorian (H. Hinnant's algorithm).
void CivilDate(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    *month = shifted < 10 ? shifted + 3 : shifted - 9;
    *year = static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2 ? 1 : 0);
}

const char* AnswerName(int answer) {
    return answer == kAnswerYes  ? "Yes"
           : answer == kAnswerNo ? "No"
           : answer == kAnswerOk ? "OK"
                                 : "Cancel";
}

}  // namespace

void FormatTimeStamp(int64_t seconds, char* out) {
    int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    auto second = static_cast<unsigned>(seconds - days * 86400);
    int64_t year = 0;
    unsigned month = 1, day = 1;
    CivilDate(days, &year, &month, &day);
    if (year < 0 || year > 9999) year = 0;
    auto y = static_cast<unsigned>(year);
    TwoDigits(out, y / 100);
    TwoDigits(out + 2, y % 100);
    out[4] = '-';
    TwoDigits(out + 5, month);
    out[7] = '-';
    TwoDigits(out + 8, day);
    out[10] = 'T';
    TwoDigits(out + 11, second / 3600);
    out[13] = ':';
    TwoDigits(out + 14, second / 60 % 60);
    out[16] = ':';
    TwoDigits(out + 17, second % 60);
    out[19] = 'Z';
    out[20] = '\0';
}

bool OpenRunLog(Platform& platform, bool box) {
    Session& session = platform.session;
    const char* path = session.invocation.logPath;
    if (path == nullptr) return true;
    session.logging = platform.OpenLogFile(path);
    if (session.logging) return true;
    char text[kTextBytes + sizeof texts::kLogNotOpened] = "";
    CopyText(text, sizeof text, texts::kLogNotOpened);
    format::EscapeForDisplay(path, strlen(path), text + strlen(text), sizeof text - strlen(text),
                             0);
    if (box) {
        platform.ShowMessage(text, texts::kErrorCaption, kBoxOk | kBoxIconError);
    } else {
        platform.PrintLine(text, true);
    }
    return false;
}

void CloseRunLog(Platform& platform) {
    if (!platform.session.logging) return;
    platform.session.logging = false;
    platform.CloseLogFile();
}

void LogLine(Platform& platform, const char* first, const char* second) {
    if (!platform.session.logging) return;
    char line[6 * kTextBytes];
    FormatTimeStamp(platform.UnixTime(), line);
    size_t used = kTimeStampBytes - 1;
    line[used++] = ' ';
    // What does not fit is left off whole, so the length is what was written.
    format::EscapeForDisplay(first, strlen(first), line + used, sizeof line - used, 0);
    used = strlen(line);
    if (second != nullptr && used + 1 < sizeof line) {
        line[used++] = ' ';
        format::EscapeForDisplay(second, strlen(second), line + used, sizeof line - used, 0);
        used = strlen(line);
    }
    platform.WriteLogLine(line, used);
}

void LogBox(Platform& platform, const char* text, const char* caption, unsigned style, int answer) {
    if (!platform.session.logging) return;
    char head[kTextBytes + 2];
    head[0] = '\0';
    AppendText(head, sizeof head, caption);
    AppendText(head, sizeof head, ":");
    char body[5 * kTextBytes] = "";
    CopyText(body, sizeof body, text);
    if ((style & 0xF) != kBoxOk) {
        AppendText(body, sizeof body, " - answered ");
        AppendText(body, sizeof body, AnswerName(answer));
    }
    LogLine(platform, head, body);
}

void PrintError(Platform& platform, const char* text) {
    LogLine(platform, text);
    platform.PrintLine(text, true);
}

void LogLicence(Platform& platform, bool accepted) {
    LogLine(platform, accepted ? texts::kLogLicenceAccepted : texts::kLogLicenceDeclined);
}

}  // namespace sfx
