// The Windows self-extractor: WinMain, the two dialog procedures and the worker thread. The
// decisions live in sfx/core; this file only turns window messages into calls of them and their
// requests into Win32 calls. The worker changes the dialog only through messages, which the main
// thread carries out, so the main thread never blocks while a worker may still be sending.
#include <windows.h>
// windows.h first: the shell and common-control headers need its types.
#include <commctrl.h>
#include <shlobj.h>

#include <cstdlib>

#include "format/utf8.h"
#include "platform/win32/dll_search.h"
#include "sfx/core/command_line.h"
#include "sfx/core/messages.h"
#include "sfx/core/run_log.h"
#include "sfx/core/sfx_core.h"
#include "sfx/win32/dialog_look.h"
#include "sfx/win32/installer_win32.h"
#include "sfx/win32/license_dialog.h"
#include "sfx/win32/private_folder.h"
#include "sfx/win32/progress_window.h"
#include "sfx/win32/start_win32.h"

HINSTANCE g_hInstance;
HWND g_hMainDlg;
HWND g_hCommentView;
HFONT g_hCommentFont;

namespace {

// Sent by the worker to end the main dialog on the dialog's own thread.
constexpr UINT WM_APP_END_DIALOG = WM_APP + 1;

// Workers that have not yet left ExtractThread; the archive stays open until this is 0.
volatile LONG g_workersRunning;

INT_PTR CALLBACK MainDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PasswordDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

class Win32Dialog : public sfx::MainDialog {
  public:
    explicit Win32Dialog(HWND window) : hwnd(window) {}

    void SetItemText(int id, const char* text) override { SetDlgItemTextA(hwnd, id, text); }
    void GetItemText(int id, char* out, size_t capacity) override {
        out[0] = '\0';
        GetDlgItemTextA(hwnd, id, out, static_cast<int>(capacity));
    }
    bool IsChecked(int id) override { return IsDlgButtonChecked(hwnd, id) == BST_CHECKED; }
    void EnableItem(int id, bool enable) override {
        EnableWindow(GetDlgItem(hwnd, id), enable ? TRUE : FALSE);
    }
    void ShowItem(int id, bool show) override {
        ShowWindow(GetDlgItem(hwnd, id), show ? SW_SHOW : SW_HIDE);
    }
    void ListReset(int id) override { SendDlgItemMessageA(hwnd, id, LB_RESETCONTENT, 0, 0); }
    void ListAdd(int id, const char* text) override {
        SendDlgItemMessageA(hwnd, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    void SetProgressRange(int id, int low, int high) override {
        SendDlgItemMessageA(hwnd, id, PBM_SETRANGE, 0, MAKELPARAM(low, high));
    }
    void SetProgressColour(int id, uint8_t red, uint8_t green, uint8_t blue) override {
        SendDlgItemMessageA(hwnd, id, PBM_SETBARCOLOR, 0, RGB(red, green, blue));
    }
    void SetProgress(int id, int value) override {
        SendDlgItemMessageA(hwnd, id, PBM_SETPOS, static_cast<WPARAM>(value), 0);
    }
    void End(intptr_t result) override {
        if (hwnd == g_hMainDlg) {
            // The worker may be the caller; EndDialog belongs to the dialog's thread.
            SendMessageA(hwnd, WM_APP_END_DIALOG, static_cast<WPARAM>(result), 0);
        } else {
            EndDialog(hwnd, result);
        }
    }
    int ShowMessage(const char* text, const char* caption, unsigned style) override;

    bool CreateCommentView() override {
        g_hCommentView = CreateWindowExA(
            WS_EX_WINDOWEDGE, "EDIT", "",
            WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE |
                ES_AUTOVSCROLL | ES_READONLY,
            ScaleToWindowDpi(hwnd, 24), ScaleToWindowDpi(hwnd, 123), ScaleToWindowDpi(hwnd, 288),
            ScaleToWindowDpi(hwnd, 154), hwnd,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_COMMENT_VIEW)), g_hInstance, nullptr);
        return g_hCommentView != nullptr;
    }
    bool SetCommentFont() override {
        LOGFONTA font = {};
        font.lfHeight = ScaleToWindowDpi(hwnd, 14);
        font.lfWeight = FW_NORMAL;
        font.lfCharSet = ANSI_CHARSET;
        font.lfOutPrecision = OUT_DEFAULT_PRECIS;
        font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
        font.lfQuality = PROOF_QUALITY;
        font.lfPitchAndFamily = 0;
        lstrcpyA(font.lfFaceName, sfx::texts::kCommentFace);
        g_hCommentFont = CreateFontIndirectA(&font);
        if (g_hCommentFont == nullptr) return false;
        SendMessageA(g_hCommentView, WM_SETFONT, reinterpret_cast<WPARAM>(g_hCommentFont), TRUE);
        return true;
    }
    void SetCommentText(const char* text) override;
    bool HasCommentView() override { return g_hCommentView != nullptr; }
    void DestroyCommentView() override {
        DestroyWindow(g_hCommentView);
        g_hCommentView = nullptr;
    }
    bool HasCommentFont() override { return g_hCommentFont != nullptr; }
    void ReleaseCommentFont() override {
        DeleteObject(g_hCommentFont);
        g_hCommentFont = nullptr;
    }
    bool BrowseForFolder(char* out, size_t capacity) override {
        BROWSEINFOA browse = {};
        browse.hwndOwner = hwnd;
        browse.pidlRoot = nullptr;  // the desktop
        browse.lpszTitle = sfx::texts::kBrowseTitle;
        browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_UAHINT;
        LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
        if (chosen == nullptr) return false;
        char path[MAX_PATH];
        path[0] = '\0';
        bool found = SHGetPathFromIDListA(chosen, path) != FALSE;
        IMalloc* shellMalloc = nullptr;
        if (SUCCEEDED(SHGetMalloc(&shellMalloc))) {
            shellMalloc->Free(chosen);
            shellMalloc->Release();
        }
        if (!found) return false;
        if (lstrlenA(path) >= static_cast<int>(capacity)) {
            MessageBoxA(hwnd, sfx::texts::kChosenFolderTooLong, sfx::texts::kErrorCaption,
                        MB_OK | MB_ICONERROR);
            return false;
        }
        lstrcpyA(out, path);
        return true;
    }
    bool StartWorker() override;
    void SetChecked(int id, bool checked) override {
        CheckDlgButton(hwnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }

    HWND hwnd;
};

class Win32Platform : public sfx::Platform {
  public:
    sfx::PathStyle Style() override { return sfx::PathStyle::Windows; }
    void GetOwnPath(char* out, size_t capacity) override {
        DWORD length = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(capacity));
        // Older systems leave a cut path without its NUL.
        out[length < capacity ? length : capacity - 1] = '\0';
    }
    int ShowMessage(const char* text, const char* caption, unsigned style) override {
        int answer = MessageBoxA(nullptr, text, caption, style);
        sfx::LogBox(*this, text, caption, style, answer);
        return answer;
    }
    intptr_t RunPasswordDialog(sfx::MainDialog* owner, char* buffer) override {
        return DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_PASSWORD),
                               owner != nullptr ? g_hMainDlg : nullptr, PasswordDlgProc,
                               reinterpret_cast<LPARAM>(buffer));
    }
    void RunMainDialog() override {
        DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlgProc, 0);
    }
    void WaitForWorker() override {
        // Keeps answering messages: a worker may be inside a send to a control when it is asked
        // to stop, and it leaves within one block of the entry in progress.
        while (g_workersRunning > 0) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }
    bool PathExists(const char* path) override {
        return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    }
    bool DirectoryExists(const char* path) override { return SetCurrentDirectoryA(path) != FALSE; }
    bool CreateDirectoryLevel(const char* path) override {
        return CreateDirectoryA(path, nullptr) != FALSE;
    }
    bool RemoveFile(const char* path) override { return DeleteFileA(path) != FALSE; }
    bool IsLeadByte(unsigned char c) override { return IsDBCSLeadByte(c) != FALSE; }
    size_t SystemText(const char* text, char* out, size_t capacity) override;
    // Installers and switches: sfx/win32/installer_win32.cpp.
    void PrintLine(const char* text, bool error) override {
        win32sfx::AttachParentConsole();
        win32sfx::ConsoleLine(text, error);
    }
    void ShowUsage(const char* word, const char* why) override {
        win32sfx::ShowUsage(word, why, session.invocation.unattended);
    }
    bool ReadFileStart(const char* path, char* out, size_t capacity, size_t* count) override {
        return win32sfx::ReadFileStart(path, out, capacity, count);
    }
    bool MakeTemporaryFolder(char* out) override { return win32sfx::MakePrivateFolder(out); }
    bool RemoveFolderTree(const char* path) override { return win32sfx::RemoveFolderTree(path); }
    sfx::ProgramResult RunProgram(const sfx::ProgramLaunch& launch, int* exitCode) override {
        return win32sfx::RunProgram(launch, exitCode);
    }
    bool AskLicense(const char* text) override { return win32sfx::RunLicenseDialog(text); }
    sfx::Dialog* OpenProgressView() override { return win32sfx::OpenProgressWindow(*this); }
    void CloseProgressView() override { win32sfx::CloseProgressWindow(); }
    // The log, the known folders, the beside archive: sfx/win32/start_win32.cpp.
    bool OpenLogFile(const char* path) override { return win32sfx::OpenLog(path); }
    void WriteLogLine(const char* line, size_t length) override {
        win32sfx::WriteLog(line, length);
    }
    void CloseLogFile() override { win32sfx::CloseLog(); }
    int64_t UnixTime() override { return win32sfx::UnixTime(); }
    bool KnownFolderPath(format::KnownFolder folder, char* out, size_t capacity) override {
        return win32sfx::KnownFolderPath(folder, out, capacity);
    }
    bool ReadFileSlices(const char* path, FileSlice slice, void* context) override {
        return win32sfx::ReadFileSlices(path, slice, context);
    }
};

// The system's own 8-bit code page, which the manifest's UTF-8 setting does not change. A locale
// without one (0) leaves UTF-8, so the bytes that are not come out as replacement characters.
UINT SystemCodePage() {
    char digits[8] = {};
    GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, digits, sizeof digits);
    UINT codePage = 0;
    for (const char* c = digits; *c >= '0' && *c <= '9'; ++c) codePage = codePage * 10 + (*c - '0');
    return codePage != 0 ? codePage : CP_UTF8;
}

// Archives store names as UTF-8, but older writers on Windows stored them in the system's code
// page, which the 8-bit calls read correctly only while they do not read UTF-8. So where they do,
// a text that is not UTF-8 is read in that code page and handed over as UTF-8.
size_t Win32Platform::SystemText(const char* text, char* out, size_t capacity) {
    int length = lstrlenA(text);
    if (GetACP() != CP_UTF8 || format::IsValidUtf8(text, static_cast<size_t>(length))) {
        return Platform::SystemText(text, out, capacity);
    }
    UINT codePage = SystemCodePage();
    int wideLength = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    auto* wide = static_cast<wchar_t*>(malloc(sizeof(wchar_t) * (wideLength > 0 ? wideLength : 1)));
    int bytes = 0;
    if (wide != nullptr && wideLength > 0) {
        MultiByteToWideChar(codePage, 0, text, length, wide, wideLength);
        bytes = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
        if (bytes > 0 && static_cast<size_t>(bytes) < capacity) {
            WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, out, bytes, nullptr, nullptr);
            out[bytes] = '\0';
        }
    }
    free(wide);
    if (bytes <= 0) return Platform::SystemText(text, out, capacity);
    return static_cast<size_t>(bytes);
}

// A multi-line edit control breaks lines only at CR LF; comments written on other systems end
// their lines in LF alone, which the viewer would run together into one line.
void Win32Dialog::SetCommentText(const char* text) {
    size_t length = 0;
    size_t bareLineEnds = 0;
    for (; text[length] != '\0'; ++length) {
        if (text[length] == '\n' && (length == 0 || text[length - 1] != '\r')) ++bareLineEnds;
    }
    char* shown =
        bareLineEnds == 0 ? nullptr : static_cast<char*>(malloc(length + bareLineEnds + 1));
    if (shown == nullptr) {
        SetWindowTextA(g_hCommentView, text);
        return;
    }
    char* out = shown;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) *out++ = '\r';
        *out++ = text[i];
    }
    *out = '\0';
    SetWindowTextA(g_hCommentView, shown);
    free(shown);
}

Win32Platform g_platform;
Win32Dialog g_mainDialog(nullptr);

int Win32Dialog::ShowMessage(const char* text, const char* caption, unsigned style) {
    int answer = MessageBoxA(hwnd, text, caption, style);
    sfx::LogBox(g_platform, text, caption, style, answer);
    return answer;
}

DWORD WINAPI ExtractThreadProc(LPVOID) {
    sfx::ExtractThread(g_platform, g_mainDialog);
    InterlockedDecrement(&g_workersRunning);
    ExitThread(0);
}

bool Win32Dialog::StartWorker() {
    InterlockedIncrement(&g_workersRunning);
    HANDLE thread = CreateThread(nullptr, 0, ExtractThreadProc, nullptr, 0, nullptr);
    if (thread == nullptr) {
        InterlockedDecrement(&g_workersRunning);
        return false;
    }
    CloseHandle(thread);
    return true;
}

INT_PTR CALLBACK MainDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            g_hMainDlg = hwnd;
            g_mainDialog.hwnd = hwnd;
            ApplyPublisherTitle(hwnd, g_platform.session.settings);
            sfx::MainDialogOpen(g_platform, g_mainDialog);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_EXTRACT:
                    sfx::MainDialogExtract(g_platform, g_mainDialog);
                    break;
                case IDC_CLOSE:
                    sfx::MainDialogClose(g_platform, g_mainDialog);
                    break;
                case IDC_BROWSE:
                    sfx::MainDialogBrowse(g_platform, g_mainDialog);
                    break;
                default:
                    break;
            }
            return TRUE;
        case WM_APP_END_DIALOG:
            EndDialog(hwnd, static_cast<INT_PTR>(wParam));
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK PasswordDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Win32Dialog dialog(hwnd);
    switch (message) {
        case WM_INITDIALOG:
            sfx::PasswordDialogInit(dialog, reinterpret_cast<char*>(lParam));
            return TRUE;
        case WM_COMMAND:
            return sfx::PasswordDialogCommand(dialog, LOWORD(wParam)) ? TRUE : FALSE;
        default:
            return FALSE;
    }
}

// The common controls (the progress bar) come from the system folder's comctl32, which is not
// one of the known DLLs: imported by the program, it would be found beside it first. Version 5,
// since the manifest asks for no other, so the bar keeps the colour the dialog gives it.
void RegisterCommonControls() {
    HMODULE comctl32 = platform::LoadSystemLibrary(L"comctl32.dll");
    if (comctl32 == nullptr) return;
    auto initCommonControls = reinterpret_cast<void(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(comctl32, "InitCommonControls")));
    if (initCommonControls != nullptr) initCommonControls();
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    platform::RestrictDllSearchToSystem();
    g_hInstance = hInstance;
    RegisterCommonControls();
    int count = 0;
    const char* const* words = win32sfx::CommandWords(&count);
    sfx::Invocation invocation;
    sfx::ParseWindowsSwitches(count, words, &invocation);
    return sfx::Run(invocation, g_platform);
}
