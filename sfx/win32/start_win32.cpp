// The log, the clock, the known folders and the beside archive's bytes, in Win32 calls. The
// shell's known-folder call and its memory's release are found at run time: shell32 is loaded
// already, and ole32, a known DLL, is loaded from the system folder only when a folder is asked.
#include "sfx/win32/start_win32.h"

#include "platform/win32/dll_search.h"

namespace win32sfx {

namespace {

constexpr int kWidePath = 1024;
HANDLE g_log = INVALID_HANDLE_VALUE;

bool WidenPath(const char* text, wchar_t* out) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, out, kWidePath);
    return n > 0;
}

// The shell's folder ids (shlobj's FOLDERID_ values), kept here so no GUID library is linked.
constexpr GUID kProgramFiles = {
    0x905e63b6, 0xc1bf, 0x494e, {0xb2, 0x9c, 0x65, 0xb7, 0x32, 0xd3, 0xd2, 0x1a}};
constexpr GUID kProgramFilesX64 = {
    0x6d809377, 0x6af0, 0x444b, {0x89, 0x57, 0xa3, 0x77, 0x3f, 0x02, 0x20, 0x0e}};
constexpr GUID kProgramFilesX86 = {
    0x7c5a40ef, 0xa0fb, 0x4bfc, {0x87, 0x4a, 0xc0, 0xf2, 0xe0, 0xb9, 0xfa, 0x8e}};
constexpr GUID kLocalAppData = {
    0xf1b32785, 0x6fba, 0x4fcf, {0x9d, 0x55, 0x7b, 0x8e, 0x7f, 0x15, 0x70, 0x91}};
constexpr GUID kRoamingAppData = {
    0x3eb685db, 0x65f9, 0x4cf6, {0xa0, 0x3a, 0xe3, 0xef, 0x65, 0x72, 0x9f, 0x3d}};
constexpr GUID kProfile = {
    0x5e6c858f, 0x0e22, 0x4760, {0x9a, 0xfe, 0xea, 0x33, 0x17, 0xb6, 0x71, 0x73}};

// A 32-bit process on 64-bit Windows, whose own Program Files is the (x86) one.
bool RunsUnderWow64() {
    if (sizeof(void*) != 4) return false;
    using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64 = reinterpret_cast<IsWow64>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

// SHGetKnownFolderPath's answer copied into out (kWidePath); false when it has none.
bool ShellFolder(const GUID& id, wchar_t* out) {
    using GetPath = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);
    using FreeMemory = void(WINAPI*)(void*);
    auto getPath = reinterpret_cast<GetPath>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"shell32.dll"), "SHGetKnownFolderPath")));
    HMODULE ole32 = platform::LoadSystemLibrary(L"ole32.dll");
    auto freeMemory = ole32 == nullptr ? nullptr
                                       : reinterpret_cast<FreeMemory>(reinterpret_cast<void*>(
                                             GetProcAddress(ole32, "CoTaskMemFree")));
    if (getPath == nullptr || freeMemory == nullptr) return false;
    PWSTR path = nullptr;
    bool ok =
        SUCCEEDED(getPath(id, 0, nullptr, &path)) && path != nullptr && lstrlenW(path) < kWidePath;
    if (ok) lstrcpyW(out, path);
    freeMemory(path);
    return ok;
}

bool WideFolder(format::KnownFolder folder, wchar_t* out) {
    using format::KnownFolder;
    switch (folder) {
        case KnownFolder::ProgramFiles:
            if (!RunsUnderWow64()) return ShellFolder(kProgramFiles, out);
            // The 64-bit folder; where the shell keeps it from 32-bit callers, the variable
            // Windows sets for them names it.
            if (ShellFolder(kProgramFilesX64, out)) return true;
            {
                DWORD n = GetEnvironmentVariableW(L"ProgramW6432", out, kWidePath);
                return n != 0 && n < static_cast<DWORD>(kWidePath);
            }
        case KnownFolder::ProgramFilesX86:
            return ShellFolder(kProgramFilesX86, out);
        case KnownFolder::LocalAppData:
            return ShellFolder(kLocalAppData, out);
        case KnownFolder::AppData:
            return ShellFolder(kRoamingAppData, out);
        case KnownFolder::UserProfile:
            return ShellFolder(kProfile, out);
        case KnownFolder::Temp: {
            DWORD n = GetTempPathW(kWidePath, out);
            return n != 0 && n < static_cast<DWORD>(kWidePath);
        }
        default:
            return false;
    }
}

}  // namespace

bool OpenLog(const char* path) {
    wchar_t wide[kWidePath];
    if (!WidenPath(path, wide)) return false;
    // A read-only file is never appended to, whoever runs the program: an administrator's
    // rights would let the open pass on some systems.
    DWORD attributes = GetFileAttributesW(wide);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return false;
    }
    g_log = CreateFileW(wide, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return g_log != INVALID_HANDLE_VALUE;
}

void WriteLog(const char* line, size_t length) {
    char whole[6 * sfx::kTextBytes + 2];
    if (length > sizeof whole - 2) length = sizeof whole - 2;
    CopyMemory(whole, line, length);
    whole[length] = '\r';
    whole[length + 1] = '\n';
    DWORD written = 0;
    WriteFile(g_log, whole, static_cast<DWORD>(length + 2), &written, nullptr);
}

void CloseLog() {
    if (g_log != INVALID_HANDLE_VALUE) CloseHandle(g_log);
    g_log = INVALID_HANDLE_VALUE;
}

int64_t UnixTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t ticks = (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return static_cast<int64_t>((ticks - 116444736000000000ull) / 10000000ull);
}

bool KnownFolderPath(format::KnownFolder folder, char* out, size_t capacity) {
    wchar_t wide[kWidePath];
    if (!WideFolder(folder, wide)) return false;
    int length = lstrlenW(wide);
    while (length > 3 && wide[length - 1] == L'\\') wide[--length] = L'\0';
    BOOL lossy = FALSE;
    BOOL* lossyOut = GetACP() == CP_UTF8 ? nullptr : &lossy;
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, out, static_cast<int>(capacity), nullptr,
                                lossyOut);
    return n > 0 && !lossy;
}

bool ReadFileSlices(const char* path, sfx::Platform::FileSlice slice, void* context) {
    wchar_t wide[kWidePath];
    if (!WidenPath(path, wide)) return false;
    HANDLE file = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    constexpr DWORD kSlice = 1 << 20;
    auto* buffer = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, kSlice));
    bool ok = buffer != nullptr;
    DWORD got = 0;
    while (ok && (ok = ReadFile(file, buffer, kSlice, &got, nullptr) != FALSE) && got != 0) {
        if (!slice(context, buffer, got)) break;
    }
    if (buffer != nullptr) HeapFree(GetProcessHeap(), 0, buffer);
    CloseHandle(file);
    return ok;
}

}  // namespace win32sfx
