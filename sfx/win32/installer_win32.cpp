// The Windows self-extractor's installer side: switches, the parent's console, the temporary
// folder and the program run after extraction. Texts cross to the system's wide calls through
// the 8-bit code page (CP_ACP) that the stub's other calls use, so a path means the same here.
// Like the rest of the stub, no standard containers: fixed buffers and the process heap.
#include "sfx/win32/installer_win32.h"

#include <shellapi.h>

#include "sfx/core/command_line.h"
#include "sfx/core/messages.h"
#include "sfx/core/text.h"

namespace win32sfx {

namespace {

constexpr int kWidePath = 1024;  // wide characters; every 255-byte path fits

bool g_attached = false;
bool g_attachTried = false;

void* Allocate(size_t bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

// 8-bit text to wide, into out (capacity characters); false when it does not fit.
bool Widen(const char* text, int length, wchar_t* out, int capacity) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, length, out, capacity - 1);
    if (n <= 0 && length != 0) return false;
    out[n] = L'\0';
    return true;
}

bool WidenAll(const char* text, wchar_t* out, int capacity) {
    return Widen(text, lstrlenA(text), out, capacity);
}

// A new heap copy of text, widened; null when no memory can be had.
wchar_t* WidenCopy(const char* text) {
    int length = lstrlenA(text);
    auto* out = static_cast<wchar_t*>(Allocate(sizeof(wchar_t) * (length + 1)));
    if (out != nullptr && !Widen(text, length, out, length + 1)) out[0] = L'\0';
    return out;
}

bool EndsWithExe(const char* path) {
    int length = lstrlenA(path);
    return length >= 4 && lstrcmpiA(path + length - 4, ".exe") == 0;
}

// The program's arguments as one 8-bit line: the program line's own words after the program, as
// the publisher wrote them, then every word given after "--", quoted. Null without memory.
char* ArgumentLine(const sfx::ProgramLaunch& launch) {
    size_t bytes = launch.lineLength + 2;
    for (int i = 0; i < launch.extraCount; ++i) bytes += 2 * lstrlenA(launch.extraArgs[i]) + 4;
    auto* line = static_cast<char*>(Allocate(bytes));
    if (line == nullptr) return nullptr;
    size_t start = launch.argumentsAt;
    while (start < launch.lineLength && (launch.line[start] == ' ' || launch.line[start] == '\t')) {
        ++start;
    }
    CopyMemory(line, launch.line + start, launch.lineLength - start);
    line[launch.lineLength - start] = '\0';
    for (int i = 0; i < launch.extraCount; ++i) {
        sfx::AppendWindowsArgument(line, bytes, launch.extraArgs[i]);
    }
    return line;
}

// A job that ends every process in it when its last handle closes: a self-extractor that is
// itself ended takes the program's whole tree with it. Null when the system refuses one.
HANDLE MakeTreeJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

// Until the job holds no process: the program's children, and theirs, have ended too. A job the
// program could not join (one the system refused to nest) holds none.
void WaitForTree(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION account = {};
    while (QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &account,
                                     sizeof account, nullptr) &&
           account.ActiveProcesses > 0) {
        Sleep(100);
    }
}

// Waits for the program when asked, and then for its tree when it runs in a job (null job:
// none); its exit code is the program's own.
sfx::ProgramResult Finish(HANDLE process, HANDLE job, bool wait, int* exitCode) {
    if (process != nullptr && wait) {
        WaitForSingleObject(process, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        *exitCode = static_cast<int>(code);
    }
    if (job != nullptr) {
        if (wait) WaitForTree(job);
        CloseHandle(job);
    }
    if (process != nullptr) CloseHandle(process);
    return sfx::ProgramResult::Ran;
}

// An .exe: its full path is the application name, so no search path is ever consulted.
sfx::ProgramResult StartExe(const wchar_t* path, const wchar_t* folder, const char* arguments,
                            const sfx::ProgramLaunch& launch, int* exitCode) {
    size_t length = static_cast<size_t>(lstrlenA(arguments)) + kWidePath + 4;
    auto* commandLine = static_cast<wchar_t*>(Allocate(sizeof(wchar_t) * length));
    if (commandLine == nullptr) return sfx::ProgramResult::CannotStart;
    // The program's own name first, quoted, as programs expect to find it in their line.
    lstrcpyW(commandLine, L"\"");
    lstrcatW(commandLine, path);
    lstrcatW(commandLine, L"\"");
    if (arguments[0] != '\0') {
        lstrcatW(commandLine, L" ");
        int used = lstrlenW(commandLine);
        Widen(arguments, lstrlenA(arguments), commandLine + used, static_cast<int>(length) - used);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Joined to its job before its first instruction, so that nothing it starts escapes.
    HANDLE job = launch.wholeTree ? MakeTreeJob() : nullptr;
    BOOL started =
        CreateProcessW(path, commandLine, nullptr, nullptr, FALSE,
                       job != nullptr ? CREATE_SUSPENDED : 0, nullptr, folder, &startup, &process);
    HeapFree(GetProcessHeap(), 0, commandLine);
    if (!started) {
        if (job != nullptr) CloseHandle(job);
        return sfx::ProgramResult::CannotStart;
    }
    if (job != nullptr) {
        AssignProcessToJobObject(job, process.hProcess);
        ResumeThread(process.hThread);
    }
    CloseHandle(process.hThread);
    return Finish(process.hProcess, job, launch.wait, exitCode);
}

// Anything else (.msi, .bat, .cmd, a document) opens as the system opens it.
sfx::ProgramResult OpenFile(const wchar_t* path, const wchar_t* folder, const char* arguments,
                            const sfx::ProgramLaunch& launch, int* exitCode) {
    wchar_t* parameters = WidenCopy(arguments);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpFile = path;
    info.lpParameters = parameters != nullptr && parameters[0] != L'\0' ? parameters : nullptr;
    info.lpDirectory = folder;
    info.nShow = SW_SHOWNORMAL;
    BOOL started = ShellExecuteExW(&info);
    if (parameters != nullptr) HeapFree(GetProcessHeap(), 0, parameters);
    if (!started) return sfx::ProgramResult::CannotStart;
    // The shell starts it running, so it joins its job only now: a process it started in that
    // first moment would stay outside. Programs that are no .exe rarely start any so soon.
    HANDLE job = launch.wholeTree && info.hProcess != nullptr ? MakeTreeJob() : nullptr;
    if (job != nullptr) AssignProcessToJobObject(job, info.hProcess);
    return Finish(info.hProcess, job, launch.wait, exitCode);
}

// Removes everything below path (wide, length characters, room for kWidePath) and path itself.
bool RemoveTree(wchar_t* path, int length) {
    if (length + 3 >= kWidePath) return false;
    lstrcpyW(path + length, L"\\*");
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(path, &found);
    bool ok = true;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const wchar_t* name = found.cFileName;
            if (lstrcmpW(name, L".") == 0 || lstrcmpW(name, L"..") == 0) continue;
            int nameLength = lstrlenW(name);
            if (length + 1 + nameLength >= kWidePath) {
                ok = false;
                continue;
            }
            path[length] = L'\\';
            lstrcpyW(path + length + 1, name);
            bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (folder && !link) {
                ok = RemoveTree(path, length + 1 + nameLength) && ok;
            } else if (folder) {
                ok = RemoveDirectoryW(path) != FALSE && ok;  // the link, never what it names
            } else {
                SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
                ok = DeleteFileW(path) != FALSE && ok;
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    path[length] = L'\0';
    return RemoveDirectoryW(path) != FALSE && ok;
}

}  // namespace

const char* const* CommandWords(int* count) {
    *count = 0;
    int wideCount = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wide == nullptr || wideCount <= 1) {
        if (wide != nullptr) LocalFree(wide);
        return nullptr;
    }
    auto* words = static_cast<char**>(Allocate(sizeof(char*) * wideCount));
    for (int i = 1; words != nullptr && i < wideCount; ++i) {
        int bytes = WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        words[i - 1] = static_cast<char*>(Allocate(bytes > 0 ? bytes : 1));
        if (words[i - 1] != nullptr && bytes > 0) {
            WideCharToMultiByte(CP_ACP, 0, wide[i], -1, words[i - 1], bytes, nullptr, nullptr);
        }
        if (words[i - 1] == nullptr) words = nullptr;  // no memory: taken as no switches
    }
    LocalFree(wide);
    if (words == nullptr) return nullptr;
    *count = wideCount - 1;
    return words;
}

bool AttachParentConsole() {
    if (!g_attachTried) {
        g_attachTried = true;
        g_attached = AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
    }
    return g_attached;
}

bool ConsoleLine(const char* text, bool error) {
    // Handles the parent handed down (a pipe, a file) come first; else the console itself.
    HANDLE handle = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    bool inherited = handle != nullptr && handle != INVALID_HANDLE_VALUE &&
                     GetFileType(handle) != FILE_TYPE_UNKNOWN;
    DWORD written = 0;
    if (inherited && GetFileType(handle) != FILE_TYPE_CHAR) {
        WriteFile(handle, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
        WriteFile(handle, "\r\n", 2, &written, nullptr);
        return true;
    }
    if (!g_attached) return false;
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) return false;
    wchar_t* wide = WidenCopy(text);
    if (wide != nullptr) {
        WriteConsoleW(console, wide, static_cast<DWORD>(lstrlenW(wide)), &written, nullptr);
        HeapFree(GetProcessHeap(), 0, wide);
    }
    WriteConsoleW(console, L"\r\n", 2, &written, nullptr);
    CloseHandle(console);
    return true;
}

bool RemoveFolderTree(const char* path) {
    wchar_t wide[kWidePath];
    if (!WidenAll(path, wide, kWidePath)) return false;
    int length = lstrlenW(wide);
    while (length > 3 && wide[length - 1] == L'\\') wide[--length] = L'\0';
    // The existence tests enter folders; a folder that is the current one cannot go.
    wchar_t temp[kWidePath];
    if (GetTempPathW(kWidePath, temp) != 0) SetCurrentDirectoryW(temp);
    return RemoveTree(wide, length);
}

sfx::ProgramResult RunProgram(const sfx::ProgramLaunch& launch, int* exitCode) {
    wchar_t path[kWidePath];
    wchar_t folder[kWidePath];
    if (!WidenAll(launch.path, path, kWidePath) || !WidenAll(launch.folder, folder, kWidePath)) {
        return sfx::ProgramResult::CannotStart;
    }
    char* arguments = ArgumentLine(launch);
    if (arguments == nullptr) return sfx::ProgramResult::CannotStart;
    sfx::ProgramResult result = EndsWithExe(launch.path)
                                    ? StartExe(path, folder, arguments, launch, exitCode)
                                    : OpenFile(path, folder, arguments, launch, exitCode);
    HeapFree(GetProcessHeap(), 0, arguments);
    return result;
}

bool ReadFileStart(const char* path, char* out, size_t capacity, size_t* count) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    size_t got = 0;
    bool failed = false;
    while (got < capacity) {
        DWORD read = 0;
        failed = !ReadFile(file, out + got, static_cast<DWORD>(capacity - got), &read, nullptr);
        if (failed || read == 0) break;
        got += read;
    }
    CloseHandle(file);
    *count = got;
    return !failed;
}

void ShowUsage(const char* word, const char* why, bool silent) {
    AttachParentConsole();
    char problem[sfx::kTextBytes + 64];
    problem[0] = '\0';
    if (word != nullptr) {
        if (!sfx::AppendText(problem, sizeof problem, word)) {
            sfx::CopyText(problem, sizeof problem, "A switch");
        }
        sfx::AppendText(problem, sizeof problem, why);
    }
    bool printed = word == nullptr || ConsoleLine(problem, true);
    printed = ConsoleLine(sfx::texts::kSwitchesUsage, word != nullptr) && printed;
    // On the console or the output the parent handed down when there is one, else in a message
    // box (never under /S, which promises no window). /? shows the box in any case.
    if (word == nullptr || (!printed && !silent)) {
        MessageBoxA(nullptr, sfx::texts::kSwitchesUsage, sfx::texts::kSwitchesCaption,
                    MB_OK | (word != nullptr ? MB_ICONERROR : MB_ICONINFORMATION));
    }
}

}  // namespace win32sfx
