// The licence dialog. The text is UTF-8 and goes to the wide calls, so it reads right whatever the
// system's code page; its lines may end in LF alone, which an edit control shows only as CR LF.
#include "sfx/win32/license_dialog.h"

#include <windows.h>

#include "sfx/core/control_ids.h"

extern HINSTANCE g_hInstance;

namespace win32sfx {

namespace {

void* Allocate(size_t bytes) {
    return HeapAlloc(GetProcessHeap(), 0, bytes);
}

// text as wide characters with every bare LF made CR LF, on the process heap; null without
// memory or when it is no UTF-8.
wchar_t* ShownText(const char* text) {
    int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (length <= 0) return nullptr;
    auto* wide = static_cast<wchar_t*>(Allocate(sizeof(wchar_t) * length));
    if (wide == nullptr) return nullptr;
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, length);
    int bare = 0;
    for (int i = 0; wide[i] != L'\0'; ++i)
        bare += wide[i] == L'\n' && (i == 0 || wide[i - 1] != L'\r');
    auto* shown = static_cast<wchar_t*>(Allocate(sizeof(wchar_t) * (length + bare)));
    if (shown != nullptr) {
        wchar_t* out = shown;
        for (int i = 0; i < length; ++i) {
            if (wide[i] == L'\n' && (i == 0 || wide[i - 1] != L'\r')) *out++ = L'\r';
            *out++ = wide[i];
        }
    }
    HeapFree(GetProcessHeap(), 0, wide);
    return shown;
}

INT_PTR CALLBACK LicenseDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            HWND view = GetDlgItem(hwnd, IDC_LICENSE_TEXT);
            // Up to 1 MiB of text: lift the edit control's default limit first.
            SendMessageW(view, EM_SETLIMITTEXT, 0, 0);
            if (wchar_t* shown = ShownText(reinterpret_cast<const char*>(lParam))) {
                SetWindowTextW(view, shown);
                HeapFree(GetProcessHeap(), 0, shown);
            }
            // Declining is the default answer: Enter alone never accepts.
            SetFocus(GetDlgItem(hwnd, IDCANCEL));
            return FALSE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(hwnd, LOWORD(wParam));
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool RunLicenseDialog(const char* text) {
    return DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_LICENSE), nullptr, LicenseDlgProc,
                           reinterpret_cast<LPARAM>(text)) == IDOK;
}

}  // namespace win32sfx
