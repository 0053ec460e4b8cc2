// Win32 implementation of output_file.h. Windows has no *at calls, so the checks are made on the
// handles themselves: every level is opened with FILE_FLAG_OPEN_REPARSE_POINT (a junction or
// link there is opened as itself, not followed) and checked through GetFileInformationByHandle,
// and it stays open without delete sharing while the entry is written, so that no level can be
// renamed or replaced by a junction between the check and the rename. Part files are created with
// CREATE_NEW, and MoveFileExW replaces what stands at the final name, a link included, without
// following it. Paths arrive as the library's 8-bit text and go to the wide calls.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>

#include "format/container.h"
#include "platform/output_file.h"
#include "platform/part_name.h"

namespace platform {

namespace {

constexpr int kPartNameAttempts = 100;
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool Wide(const char* text, wchar_t (&out)[kOutputPathBytes]) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, out, static_cast<int>(kOutputPathBytes));
    return n > 0;
}

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// Opens the folder at path as itself, never through a reparse point, and checks the handle.
OutputResult OpenLevel(const wchar_t* path, HANDLE* opened) {
    HANDLE level = CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               kShareAllButDelete, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (level == INVALID_HANDLE_VALUE) return OutputResult::SystemError;
    BY_HANDLE_FILE_INFORMATION info;
    OutputResult result = OutputResult::Ok;
    if (!GetFileInformationByHandle(level, &info)) {
        result = OutputResult::SystemError;
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        result = OutputResult::ThroughLink;
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        result = OutputResult::NotFolder;
    }
    if (result != OutputResult::Ok) {
        DWORD error = GetLastError();
        CloseHandle(level);
        SetLastError(error);
        return result;
    }
    *opened = level;
    return OutputResult::Ok;
}

OutputResult EnterLevel(const char* path, HANDLE* opened) {
    wchar_t wide[kOutputPathBytes];
    if (!Wide(path, wide)) return OutputResult::TooLong;
    DWORD attributes = GetFileAttributesW(wide);
    if (attributes == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(wide, nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        return OutputResult::SystemError;
    }
    return OpenLevel(wide, opened);
}

bool AppendToPath(OutputFolder* folder, const char* level, size_t length) {
    if (folder->pathLength + 1 + length >= kOutputPathBytes) return false;
    folder->path[folder->pathLength++] = '\\';
    memcpy(folder->path + folder->pathLength, level, length);
    folder->pathLength += length;
    folder->path[folder->pathLength] = '\0';
    return true;
}

bool IsBadLevel(const char* level, size_t length) {
    return length == 0 || (length == 1 && level[0] == '.') ||
           (length == 2 && level[0] == '.' && level[1] == '.');
}

// The process id, a counter and the performance counter: names need not be secret, since the
// exclusive creation alone keeps the file safe, only unlikely to be taken.
void PartRandom(unsigned char (&bits)[kPartRandomBytes]) {
    static volatile LONG counter = 0;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    uint32_t pid = GetCurrentProcessId();
    uint32_t count = static_cast<uint32_t>(InterlockedIncrement(&counter));
    uint64_t mixed = static_cast<uint64_t>(now.QuadPart) * 0x9E3779B97F4A7C15ull;
    for (size_t i = 0; i < 3; ++i) bits[i] = static_cast<unsigned char>(pid >> (8 * i));
    for (size_t i = 0; i < 3; ++i) bits[3 + i] = static_cast<unsigned char>(count >> (8 * i));
    for (size_t i = 0; i < 3; ++i) bits[6 + i] = static_cast<unsigned char>(mixed >> (40 + 8 * i));
}

void JoinInFolder(const OutputFolder& folder, const char* name, char* out) {
    memcpy(out, folder.path, folder.pathLength);
    out[folder.pathLength] = '\\';
    strcpy(out + folder.pathLength + 1, name);
}

// A read-only file can be neither replaced nor removed: the attribute goes first. Never through
// a link: its own attributes are asked, and a reparse point is left to MoveFileExW.
void AllowReplacing(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(path, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
}

void RemovePart(PartFile* part) {
    if (part->fd >= 0) _close(part->fd);
    part->fd = -1;
    wchar_t wide[kOutputPathBytes];
    if (part->path[0] && Wide(part->path, wide)) {
        AllowReplacing(wide);
        DeleteFileW(wide);
    }
    part->path[0] = '\0';
}

}  // namespace

OutputResult OpenOutputRoot(const char* path, OutputRoot* root) {
    size_t length = strlen(path);
    while (length > 1 && IsSeparator(path[length - 1]) && path[length - 2] != ':') --length;
    if (length >= kOutputPathBytes) return OutputResult::TooLong;
    memcpy(root->path, path, length);
    root->path[length] = '\0';
    if (length == 0) {
        root->path[0] = '.';
        root->path[1] = '\0';
        length = 1;
    }
    root->pathLength = length;
    wchar_t wide[kOutputPathBytes];
    if (!Wide(root->path, wide)) return OutputResult::TooLong;
    // The destination's own path is the user's: a link in it is followed.
    HANDLE folder = CreateFileW(wide, FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAllButDelete,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return OutputResult::SystemError;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(folder);
        return OutputResult::NotFolder;
    }
    root->handle = reinterpret_cast<intptr_t>(folder);
    return OutputResult::Ok;
}

void CloseOutputRoot(OutputRoot* root) {
    if (root->handle != -1) CloseHandle(AsHandle(root->handle));
    root->handle = -1;
}

OutputResult OpenOutputFolder(const OutputRoot& root, const char* relative, OutputFolder* folder) {
    memcpy(folder->path, root.path, root.pathLength + 1);
    folder->pathLength = root.pathLength;
    if (folder->pathLength > 0 && IsSeparator(folder->path[folder->pathLength - 1])) {
        folder->path[--folder->pathLength] = '\0';  // a drive's root, "C:\"
    }
    folder->levelCount = 0;
    folder->handle = root.handle;  // borrowed until a level is entered
    size_t start = 0;
    size_t total = strlen(relative);
    while (start < total) {
        const char* level = relative + start;
        size_t length = strcspn(level, "/\\");
        OutputResult result = OutputResult::Ok;
        if (IsBadLevel(level, length) || folder->levelCount >= kMaxOutputLevels) {
            result = OutputResult::BadLevel;
        } else if (length > format::kMaxNameBytes || !AppendToPath(folder, level, length)) {
            result = OutputResult::TooLong;
        }
        HANDLE entered = INVALID_HANDLE_VALUE;
        if (result == OutputResult::Ok) result = EnterLevel(folder->path, &entered);
        if (result != OutputResult::Ok) {
            DWORD error = GetLastError();
            CloseOutputFolder(folder);
            SetLastError(error);
            return result;
        }
        folder->levels[folder->levelCount++] = reinterpret_cast<intptr_t>(entered);
        folder->handle = reinterpret_cast<intptr_t>(entered);
        start += length + 1;
    }
    return OutputResult::Ok;
}

void CloseOutputFolder(OutputFolder* folder) {
    for (size_t i = 0; i < folder->levelCount; ++i) CloseHandle(AsHandle(folder->levels[i]));
    folder->levelCount = 0;
    folder->handle = -1;
}

OutputResult CreatePartFile(const OutputFolder& folder, const char* finalName, size_t maxPathBytes,
                            PartFile* part) {
    size_t finalLength = strlen(finalName);
    if (finalLength == 0 || strpbrk(finalName, "/\\") != nullptr) return OutputResult::BadLevel;
    if (folder.pathLength + 1 + finalLength >= kOutputPathBytes) return OutputResult::TooLong;
    part->folder = &folder;
    memcpy(part->finalName, finalName, finalLength + 1);
    for (int attempt = 0; attempt < kPartNameAttempts; ++attempt) {
        unsigned char random[kPartRandomBytes];
        PartRandom(random);
        if (!PartFileName(folder.pathLength, finalName, maxPathBytes, random, part->name)) {
            return OutputResult::TooLong;
        }
        JoinInFolder(folder, part->name, part->path);
        wchar_t wide[kOutputPathBytes];
        if (!Wide(part->path, wide)) return OutputResult::TooLong;
        HANDLE file =
            CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            part->fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
            if (part->fd >= 0) return OutputResult::Ok;
            CloseHandle(file);
            DeleteFileW(wide);
            return OutputResult::SystemError;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    part->path[0] = '\0';
    return OutputResult::SystemError;
}

bool SetPartFileTime(PartFile* part, uint64_t fileTime) {
    if (part->fd < 0) return false;
    if (fileTime == 0) return true;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(fileTime);
    time.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(part->fd));
    return SetFileTime(file, nullptr, &time, &time) != 0;
}

bool SetPartFileAttributes(PartFile* part, uint32_t attributes) {
    if (part->fd < 0) return false;
    FILE_BASIC_INFO basic = {};  // times of 0 are left as they are
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(part->fd));
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

void ReleasePartFileForPath(PartFile* part) {
    if (part->fd >= 0) _close(part->fd);
    part->fd = -1;
}

OutputResult CommitPartFile(PartFile* part) {
    bool closed = part->fd < 0 || _close(part->fd) == 0;
    part->fd = -1;
    char finalPath[kOutputPathBytes];
    JoinInFolder(*part->folder, part->finalName, finalPath);
    wchar_t from[kOutputPathBytes], to[kOutputPathBytes];
    OutputResult result = OutputResult::Ok;
    if (!closed) {
        result = OutputResult::SystemError;
    } else if (!Wide(part->path, from) || !Wide(finalPath, to)) {
        result = OutputResult::TooLong;
    } else {
        AllowReplacing(to);
        if (!MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING)) result = OutputResult::SystemError;
    }
    if (result != OutputResult::Ok) {
        DWORD error = GetLastError();
        RemovePart(part);
        SetLastError(error);
        return result;
    }
    part->path[0] = '\0';
    return OutputResult::Ok;
}

void DiscardPartFile(PartFile* part) {
    RemovePart(part);
}

bool SplitOutputPath(const char* path, char* folder, const char** name) {
    size_t drive = (path[0] != '\0' && path[1] == ':') ? 2 : 0;
    size_t end = drive;  // just past the last separator, or the drive
    for (size_t i = drive; path[i] != '\0'; ++i) {
        if (IsSeparator(path[i])) end = i + 1;
    }
    if (path[end] == '\0' || end + 2 > kOutputPathBytes) return false;
    memcpy(folder, path, end);
    folder[end] = '\0';
    // A bare name is in the current folder, "X:name" in drive X's current folder.
    if (end == drive) strcpy(folder + end, ".");
    *name = path + end;
    return true;
}

PathKind KindOfPath(const char* path) {
    wchar_t wide[kOutputPathBytes];
    if (!Wide(path, wide)) return PathKind::Other;
    HANDLE file = CreateFileW(wide, FILE_READ_ATTRIBUTES, kShareAllButDelete | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? PathKind::Absent
                                                                                : PathKind::Other;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool onDisk = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                  !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(file);
    return onDisk ? PathKind::File : PathKind::Other;
}

void LastOutputError(char* out, size_t capacity) {
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       GetLastError(), 0, out, static_cast<DWORD>(capacity), nullptr);
    if (length == 0) {
        strncpy(out, "unknown error", capacity - 1);
        out[capacity - 1] = '\0';
        length = static_cast<DWORD>(strlen(out));
    }
    while (length > 0 && (out[length - 1] == '\n' || out[length - 1] == '\r' ||
                          out[length - 1] == '.' || out[length - 1] == ' ')) {
        out[--length] = '\0';
    }
}

}  // namespace platform
