// A password file, as the vorn tool and both self-extractors read it: its first line, without its
// line end ("\n" or "\r\n"); nothing else of the file counts. A reader reads at most
// kPasswordFileReadBytes of the file into a fixed buffer, so a file of any size costs the same,
// and hands those bytes to PasswordLineOf, the one rule of what they must hold. Plain bytes in,
// no containers: the Windows stub runs it too.
#pragma once

#include <cstddef>
#include <cstring>

namespace format {

// The longest password a file gives: the most the library's open takes (it keeps the password
// with its NUL in 260 bytes). Longer lines are refused rather than cut, since a cut password
// would fail later as a wrong one.
constexpr size_t kMaxPasswordBytes = 259;
// What a reader reads at most: the longest line, its "\r\n", and one byte that tells a longer one.
constexpr size_t kPasswordFileReadBytes = kMaxPasswordBytes + 3;

enum class PasswordFileStatus { Ok, Empty, TooLong, NulByte };

// bytes are the first count bytes of the file: all of it, or kPasswordFileReadBytes of a longer
// one. Ok with the password's length in *length, the password starting at bytes[0].
inline PasswordFileStatus PasswordLineOf(const char* bytes, size_t count, size_t* length) {
    size_t end = 0;
    while (end < count && bytes[end] != '\n') ++end;
    if (end == count && count >= kPasswordFileReadBytes) return PasswordFileStatus::TooLong;
    if (end > 0 && bytes[end - 1] == '\r') --end;
    if (end > kMaxPasswordBytes) return PasswordFileStatus::TooLong;
    if (end == 0) return PasswordFileStatus::Empty;
    // A NUL would end the password early where it is handed on as C text.
    if (memchr(bytes, 0, end) != nullptr) return PasswordFileStatus::NulByte;
    *length = end;
    return PasswordFileStatus::Ok;
}

// Why a file that could be read gives no password, said after "the password file NAME ".
inline const char* PasswordFileProblem(PasswordFileStatus status) {
    switch (status) {
        case PasswordFileStatus::Empty:
            return "holds no password: its first line is empty";
        case PasswordFileStatus::TooLong:
            return "holds a first line longer than 259 bytes, more than a password can be";
        case PasswordFileStatus::NulByte:
            return "holds a NUL byte in its first line";
        default:
            return "";
    }
}

}  // namespace format
