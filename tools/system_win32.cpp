// The vorn tool's calls to the operating system on Windows. Paths arrive as UTF-8 and go to the
// wide calls, so the tool's own file handling works with any name on any Windows; the console
// reads and writes UTF-8 while the tool runs; Ctrl-C reaches the tool through a console handler.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/win32/dll_search.h"
#include "tools/system.h"

namespace tool::os {

namespace {

std::wstring Wide(const std::string& utf8) {
    int chars =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), chars);
    return wide;
}

std::string Utf8(const wchar_t* wide, size_t length) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr,
                                    nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), utf8.data(), bytes, nullptr,
                        nullptr);
    return utf8;
}

// The console speaks UTF-8 while the tool runs, as every name and text of the tool is; the
// console's own code pages come back at the exit.
struct ConsoleCodePages {
    UINT input = GetConsoleCP();
    UINT output = GetConsoleOutputCP();
    ConsoleCodePages() {
        SetConsoleCP(CP_UTF8);
        SetConsoleOutputCP(CP_UTF8);
    }
    ~ConsoleCodePages() {
        if (input != 0) SetConsoleCP(input);
        if (output != 0) SetConsoleOutputCP(output);
    }
} g_consoleCodePages;

void (*g_onInterrupt)() = nullptr;

BOOL WINAPI ForwardInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (g_onInterrupt) g_onInterrupt();
    return TRUE;
}

// The file RemoveOnInterrupt removes, kept where the handler's thread finds it without allocating.
wchar_t g_removedOnInterrupt[32768];

BOOL WINAPI RemoveAndExit(DWORD) {
    if (g_removedOnInterrupt[0]) DeleteFileW(g_removedOnInterrupt);
    ExitProcess(130);
}

bool ConsoleMode(DWORD stream, DWORD* mode) {
    return GetConsoleMode(GetStdHandle(stream), mode) != 0;
}

uint64_t FileTimeValue(const FILETIME& time) {
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

PathFacts FactsOf(DWORD attributes, uint64_t size, const FILETIME& written) {
    PathFacts facts;
    facts.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
    facts.size = size;
    facts.fileTime = FileTimeValue(written);
    facts.attributes = static_cast<uint16_t>(attributes & kKeptAttributes);
    return facts;
}

// Opens what stands at path for its attributes alone, folders and read-only files included.
HANDLE OpenForAttributes(const std::string& path, DWORD access) {
    return CreateFileW(Wide(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// A read-only file cannot be replaced or removed: the attribute goes first, as a POSIX folder
// lets its owner replace such a file.
void AllowReplacing(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
}

}  // namespace

bool StdinIsTerminal() {
    DWORD mode;
    return ConsoleMode(STD_INPUT_HANDLE, &mode);
}

// The progress line redraws itself with terminal sequences, which a console takes only when
// asked to.
bool StderrIsTerminal() {
    DWORD mode;
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    return GetConsoleMode(err, &mode) &&
           SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

struct InputEchoOff::Saved {
    DWORD mode;
};

namespace {

// The console's input mode before echo went off. The mode belongs to the console, not to the
// process, so a Ctrl-C that ends the tool while echo is off would leave the user's console
// without echo: the handler gives it back and lets the default handling go on.
DWORD g_echoingMode;

BOOL WINAPI RestoreEchoOnBreak(DWORD) {
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), g_echoingMode);
    return FALSE;
}

}  // namespace

InputEchoOff::InputEchoOff() {
    DWORD mode;
    if (!ConsoleMode(STD_INPUT_HANDLE, &mode)) return;
    saved_ = std::make_unique<Saved>(Saved{mode});
    g_echoingMode = mode;
    SetConsoleCtrlHandler(RestoreEchoOnBreak, TRUE);
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), mode & ~DWORD{ENABLE_ECHO_INPUT});
}

InputEchoOff::~InputEchoOff() {
    if (!saved_) return;
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), saved_->mode);
    SetConsoleCtrlHandler(RestoreEchoOnBreak, FALSE);
    // The line end typed was not shown either.
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\r\n", 2, &written, nullptr);
}

bool ReadStdinByte(char& byte) {
    // Lines end in CR LF here; the tool's lines end in LF alone.
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr) || got != 1) {
            return false;
        }
        if (byte != '\r') return true;
    }
}

void CallOnInterrupt(void (*onInterrupt)()) {
    g_onInterrupt = onInterrupt;
    SetConsoleCtrlHandler(ForwardInterrupt, TRUE);
}

void RemoveOnInterrupt(const std::string& path) {
    std::wstring wide = Wide(path);
    if (wide.size() >= sizeof g_removedOnInterrupt / sizeof(wchar_t)) return;
    std::memcpy(g_removedOnInterrupt, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    SetConsoleCtrlHandler(RemoveAndExit, TRUE);
}

// bcrypt is not one of the known DLLs, so it is not imported (it would be looked for beside the
// tool first) but loaded from the system folder when first needed, once for every thread.
bool RandomBytes(unsigned char* buffer, size_t count) {
    using GenRandomFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);
    static const GenRandomFn genRandom = [] {
        HMODULE bcrypt = platform::LoadSystemLibrary(L"bcrypt.dll");
        return bcrypt == nullptr ? nullptr
                                 : reinterpret_cast<GenRandomFn>(reinterpret_cast<void*>(
                                       GetProcAddress(bcrypt, "BCryptGenRandom")));
    }();
    return genRandom != nullptr && genRandom(nullptr, buffer, static_cast<ULONG>(count),
                                             BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

void RestrictLibrarySearch() {
    platform::RestrictDllSearchToSystem();
}

std::string LastErrorText() {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, GetLastError(), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = length ? Utf8(text, length) : "unknown error";
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == '.' || reason.back() == ' ')) {
        reason.pop_back();
    }
    return reason;
}

bool StatPath(const std::string& path, PathFacts& facts) {
    HANDLE file = OpenForAttributes(path, FILE_READ_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!known) return false;
    uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    facts = FactsOf(info.dwFileAttributes, size, info.ftLastWriteTime);
    return true;
}

bool StatPathItself(const std::string& path, PathFacts& facts) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return false;
    uint64_t size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    facts = FactsOf(data.dwFileAttributes, size, data.ftLastWriteTime);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) facts.kind = PathKind::Link;
    return true;
}

bool CanRead(const std::string& path) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool MakeFolder(const std::string& path) {
    return CreateDirectoryW(Wide(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool SetModificationTime(const std::string& path, uint64_t fileTime) {
    // Writing attributes needs no write access to the data: read-only files take it too.
    HANDLE file = OpenForAttributes(path, FILE_WRITE_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(fileTime);
    time.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    bool set = SetFileTime(file, nullptr, &time, &time) != 0;
    CloseHandle(file);
    return set;
}

bool MakeExecutable(const std::string&) {
    return true;  // a Windows program is one by its name
}

bool RenameFile(const std::string& from, const std::string& to) {
    std::wstring target = Wide(to);
    AllowReplacing(target);
    return MoveFileExW(Wide(from).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const std::string& path) {
    std::wstring wide = Wide(path);
    AllowReplacing(wide);
    return DeleteFileW(wide.c_str()) != 0;
}

int ProcessId() {
    return static_cast<int>(GetCurrentProcessId());
}

bool IsPathSeparator(char c) {
    return c == '/' || c == '\\';
}

std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(Wide(utf8));
}

std::string TextOf(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    return Utf8(wide.c_str(), wide.size());
}

std::string GenericTextOf(const std::filesystem::path& path) {
    std::wstring wide = path.generic_wstring();
    return Utf8(wide.c_str(), wide.size());
}

std::string OwnProgramPath() {
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return std::string();
    return Utf8(path.c_str(), length);
}

bool LocalTime(int64_t seconds, std::tm& local) {
    __time64_t t = seconds;
    return _localtime64_s(&local, &t) == 0;
}

}  // namespace tool::os
