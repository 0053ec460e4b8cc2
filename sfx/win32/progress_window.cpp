// The progress window of /S /PROGRESS: its dialog procedure, its thread, and the controls the
// walk's texts and progress reach through sfx::Dialog. Changes from the walk's thread are sent
// to the window's own thread by the system.
#include "sfx/win32/progress_window.h"

#include <windows.h>
// windows.h first: the common-control header needs its types.
#include <commctrl.h>

#include "sfx/core/control_ids.h"
#include "sfx/win32/dialog_look.h"

extern HINSTANCE g_hInstance;

namespace win32sfx {

namespace {

constexpr UINT WM_APP_CLOSE_PROGRESS = WM_APP + 2;

class ProgressWindow final : public sfx::Dialog {
  public:
    void SetItemText(int id, const char* text) override { SetDlgItemTextA(hwnd, id, text); }
    void GetItemText(int, char* out, size_t capacity) override {
        if (capacity != 0) out[0] = '\0';
    }
    bool IsChecked(int) override { return false; }
    void EnableItem(int, bool) override {}
    void ShowItem(int, bool) override {}
    void ListReset(int) override {}
    void ListAdd(int, const char*) override {}
    void SetProgressRange(int id, int low, int high) override {
        SendDlgItemMessageA(hwnd, id, PBM_SETRANGE, 0, MAKELPARAM(low, high));
    }
    void SetProgressColour(int id, uint8_t red, uint8_t green, uint8_t blue) override {
        SendDlgItemMessageA(hwnd, id, PBM_SETBARCOLOR, 0, RGB(red, green, blue));
    }
    void SetProgress(int id, int value) override {
        SendDlgItemMessageA(hwnd, id, PBM_SETPOS, static_cast<WPARAM>(value), 0);
    }
    void End(intptr_t) override {}
    int ShowMessage(const char*, const char*, unsigned) override { return sfx::kAnswerNo; }

    HWND hwnd = nullptr;
};

ProgressWindow g_window;
sfx::Platform* g_owner = nullptr;
HANDLE g_thread = nullptr;
HANDLE g_ready = nullptr;

// The title line: the title chosen at packing, else the program's own file name.
void ShowTitleLine(HWND hwnd, const format::SfxSettings& settings) {
    wchar_t text[MAX_PATH];
    text[0] = L'\0';
    const wchar_t* shown = text;
    if (settings.title != nullptr) {
        int length = MultiByteToWideChar(
            CP_UTF8, 0, settings.title, static_cast<int>(settings.titleLength), text, MAX_PATH - 1);
        text[length > 0 ? length : 0] = L'\0';
    } else {
        DWORD length = GetModuleFileNameW(nullptr, text, MAX_PATH);
        text[length < MAX_PATH ? length : MAX_PATH - 1] = L'\0';
        for (const wchar_t* c = text; *c != L'\0'; ++c) {
            if (*c == L'\\') shown = c + 1;
        }
    }
    SetDlgItemTextW(hwnd, IDC_PROGRESS_TITLE, shown);
}

INT_PTR CALLBACK ProgressDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            g_window.hwnd = hwnd;
            ApplyPublisherTitle(hwnd, g_owner->session.settings);
            ShowTitleLine(hwnd, g_owner->session.settings);
            g_window.SetProgressRange(IDC_PROGRESS, 0, 100);
            g_window.SetProgressColour(IDC_PROGRESS, 11, 125, 190);
            SetEvent(g_ready);
            return TRUE;
        case WM_COMMAND:
            // Cancel, Esc and the close box: the walk leaves within one block, as at a Ctrl-C.
            if (LOWORD(wParam) == IDCANCEL) {
                sfx::g_bCancel = true;
                if (sfx::g_hArchive != nullptr) g_owner->archive->CancelOperation(sfx::g_hArchive);
                EnableWindow(GetDlgItem(hwnd, IDCANCEL), FALSE);
            }
            return TRUE;
        case WM_APP_CLOSE_PROGRESS:
            EndDialog(hwnd, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

DWORD WINAPI WindowThread(LPVOID) {
    DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_PROGRESS_WINDOW), nullptr, ProgressDlgProc,
                    0);
    return 0;
}

void ReleaseHandles() {
    if (g_thread != nullptr) CloseHandle(g_thread);
    if (g_ready != nullptr) CloseHandle(g_ready);
    g_thread = nullptr;
    g_ready = nullptr;
    g_window.hwnd = nullptr;
}

}  // namespace

sfx::Dialog* OpenProgressWindow(sfx::Platform& platform) {
    g_owner = &platform;
    g_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_ready == nullptr) return nullptr;
    g_thread = CreateThread(nullptr, 0, WindowThread, nullptr, 0, nullptr);
    if (g_thread == nullptr) {
        ReleaseHandles();
        return nullptr;
    }
    // Ready, or its thread ended because the window could not be made.
    HANDLE either[2] = {g_ready, g_thread};
    if (WaitForMultipleObjects(2, either, FALSE, INFINITE) != WAIT_OBJECT_0 ||
        g_window.hwnd == nullptr) {
        WaitForSingleObject(g_thread, INFINITE);
        ReleaseHandles();
        return nullptr;
    }
    return &g_window;
}

void CloseProgressWindow() {
    if (g_thread == nullptr) return;
    if (g_window.hwnd != nullptr) PostMessageA(g_window.hwnd, WM_APP_CLOSE_PROGRESS, 0, 0);
    WaitForSingleObject(g_thread, INFINITE);
    ReleaseHandles();
}

}  // namespace win32sfx
