// The outside driver for Win32 programs under Wine; see sfx_driver.h.
#include "sfx_driver.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sfxtest {
namespace {

constexpr char kDesktopName[] = "vorn_sfx_tests";
constexpr DWORD kPollMs = 20;
constexpr UINT kMessageTimeoutMs = 5000;

}  // namespace

// Texts cross as UTF-8 both ways, whatever this program's own code page is.
std::string Narrow(const wchar_t* text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return std::string();
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes - 1));
    return out;
}

std::wstring Widen(const std::string& text) {
    int chars = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(chars > 0 ? chars : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), chars);
    out.resize(out.size() - 1);
    return out;
}

namespace {

// Cross-process messages go through the wide forms: Wine marshals their text buffers between
// processes, which the 8-bit list box messages do not get.
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &answer)) {
        return false;
    }
    if (result) *result = static_cast<LRESULT>(answer);
    return true;
}

struct WindowSearch {
    DWORD processId;
    const std::string* caption;
    const char* className;
    HWND notThis;
    HWND found;
    std::vector<std::string>* captions;
};

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    std::string caption = WindowText(window);
    if (search->captions) {
        search->captions->push_back(caption);
        return TRUE;
    }
    if (window == search->notThis || caption != *search->caption) return TRUE;
    if (search->className) {
        char name[64] = {};
        GetClassNameA(window, name, sizeof name);
        if (std::strcmp(name, search->className) != 0) return TRUE;
    }
    search->found = window;
    return FALSE;
}

}  // namespace

std::string WindowsPathFromUnix(const std::string& unixPath) {
    std::string out = "Z:";
    for (char c : unixPath) out += (c == '/') ? '\\' : c;
    return out;
}

bool EnterTestDesktop() {
    static bool entered = false;
    if (entered) return true;
    // Wine makes a desktop listed under this key a virtual desktop of the given size.
    char size[32];
    std::snprintf(size, sizeof size, "%dx%d", GetSystemMetrics(SM_CXSCREEN),
                  GetSystemMetrics(SM_CYSCREEN));
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegSetValueExA(key, kDesktopName, 0, REG_SZ, reinterpret_cast<const BYTE*>(size),
                   static_cast<DWORD>(std::strlen(size) + 1));
    RegCloseKey(key);
    HDESK desktop = CreateDesktopA(kDesktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (!desktop || !SetThreadDesktop(desktop)) return false;
    entered = true;
    return true;
}

Program::~Program() {
    Kill();
}

bool Program::Start(const std::string& exePath, const std::string& arguments) {
    Kill();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string desktop = kDesktopName;
    startup.lpDesktop = desktop.data();
    std::string commandLine = "\"" + exePath + "\"";
    if (!arguments.empty()) commandLine += " " + arguments;
    return CreateProcessA(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info_) != 0;
}

bool Program::Running() const {
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

HWND Program::Find(const std::string& caption, const char* className, HWND notThis) const {
    WindowSearch search{info_.dwProcessId, &caption, className, notThis, nullptr, nullptr};
    EnumWindows(VisitTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Program::WaitFor(const std::string& caption, const char* className, HWND notThis,
                      DWORD ms) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = Find(caption, className, notThis);
            return found != nullptr || !Running();
        },
        ms);
    return found;
}

std::vector<std::string> Program::WindowCaptions() const {
    std::vector<std::string> captions;
    WindowSearch search{info_.dwProcessId, nullptr, nullptr, nullptr, nullptr, &captions};
    EnumWindows(VisitTopLevel, reinterpret_cast<LPARAM>(&search));
    return captions;
}

bool Program::WaitForExit(DWORD* exitCode, DWORD ms) {
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(info_.hProcess, exitCode);
    return true;
}

void Program::Kill() {
    if (!info_.hProcess) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, kWaitMs);
    }
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
    info_ = PROCESS_INFORMATION{};
}

bool WaitUntil(const std::function<bool()>& cond, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (GetTickCount() - start >= ms) return false;
        Sleep(kPollMs);
    }
}

bool WaitGone(HWND window, DWORD ms) {
    return WaitUntil([&] { return !IsWindow(window); }, ms);
}

std::string WindowText(HWND window) {
    LRESULT length = 0;
    if (!window || !Send(window, WM_GETTEXTLENGTH, 0, 0, &length) || length <= 0) {
        return std::string();
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    if (!Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), nullptr)) {
        return std::string();
    }
    return Narrow(text.c_str());
}

std::string ControlText(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

bool SetControlText(HWND dialog, int id, const std::string& text) {
    HWND control = GetDlgItem(dialog, id);
    std::wstring wide = Widen(text);
    return control && Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()), nullptr);
}

std::vector<std::string> ListItems(HWND dialog, int id) {
    std::vector<std::string> items;
    HWND list = GetDlgItem(dialog, id);
    LRESULT count = 0;
    if (!list || !Send(list, LB_GETCOUNT, 0, 0, &count)) return items;
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = 0;
        if (!Send(list, LB_GETTEXTLEN, i, 0, &length) || length < 0) break;
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        Send(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()), nullptr);
        items.push_back(Narrow(text.c_str()));
    }
    return items;
}

int ProgressPosition(HWND dialog, int id) {
    LRESULT position = -1;
    HWND bar = GetDlgItem(dialog, id);
    if (!bar || !Send(bar, PBM_GETPOS, 0, 0, &position)) return -1;
    return static_cast<int>(position);
}

bool IsChecked(HWND dialog, int id) {
    LRESULT state = 0;
    HWND box = GetDlgItem(dialog, id);
    return box && Send(box, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

void SetChecked(HWND dialog, int id, bool checked) {
    HWND box = GetDlgItem(dialog, id);
    if (box) Send(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0, nullptr);
}

bool ControlVisible(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control && IsWindowVisible(control);
}

bool ControlEnabled(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control && IsWindowEnabled(control);
}

RECT ClientRect(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

HWND FocusedControl(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

bool Press(HWND dialog, int id, DWORD ms) {
    HWND button = GetDlgItem(dialog, id);
    if (!button) return false;
    if (!WaitUntil([&] { return IsWindowEnabled(dialog) && IsWindowEnabled(button); }, ms)) {
        return false;
    }
    return PostMessageA(button, BM_CLICK, 0, 0) != 0;
}

namespace {

bool StartUnixShell(const std::string& script) {
    // Wine starts Unix programs by their path.
    std::string commandLine = "/bin/sh -c \"" + script + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA("Z:\\bin\\sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return false;
    }
    if (info.hProcess) CloseHandle(info.hProcess);
    if (info.hThread) CloseHandle(info.hThread);
    return true;
}

// Waits for a file that a Unix command writes under a temporary name and renames once complete.
bool WaitForUnixFile(const std::string& unixPath, DWORD ms) {
    std::string windowsPath = WindowsPathFromUnix(unixPath);
    return WaitUntil(
        [&] { return GetFileAttributesA(windowsPath.c_str()) != INVALID_FILE_ATTRIBUTES; }, ms);
}

}  // namespace

int RunUnix(const std::string& command, const std::string& unixDir, std::string* output, DWORD ms) {
    // The exit status of a Unix program does not come back through Wine: the shell writes it.
    const std::string log = unixDir + "/unix-command.log";
    const std::string status = unixDir + "/unix-command.status";
    DeleteFileA(WindowsPathFromUnix(status).c_str());
    if (!StartUnixShell("cd '" + unixDir + "' && (" + command + ") >'" + log +
                        "' 2>&1; echo $? >'" + status + ".part' && mv '" + status + ".part' '" +
                        status + "'")) {
        return -1;
    }
    if (!WaitForUnixFile(status, ms)) return -1;
    auto read = [](const std::string& unixPath) {
        std::string text;
        if (FILE* file = std::fopen(WindowsPathFromUnix(unixPath).c_str(), "rb")) {
            char buffer[4096];
            size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
            std::fclose(file);
        }
        return text;
    };
    if (output) *output = read(log);
    return std::atoi(read(status).c_str());
}

bool Screenshot(const std::string& unixDir, const std::string& name, HWND settle) {
    // A sent message returns once the window's thread has reached its message loop; painting
    // follows when its queue runs dry, for which there is nothing to wait on from outside.
    if (settle) Send(settle, WM_NULL, 0, 0, nullptr);
    Sleep(300);
    std::string finalPath = unixDir + "/" + name + ".png";
    std::string partPath = unixDir + "/" + name + ".part.png";
    DeleteFileA(WindowsPathFromUnix(finalPath).c_str());
    CreateDirectoryA(WindowsPathFromUnix(unixDir).c_str(), nullptr);
    // The picture is renamed once complete, so its appearance under the final name says that
    // ImageMagick is done with it.
    return StartUnixShell("import -window root '" + partPath + "' && mv '" + partPath + "' '" +
                          finalPath + "'") &&
           WaitForUnixFile(finalPath, 10000);
}

}  // namespace sfxtest
