// The publisher's title and DPI scaling for the main dialog. The manifest declares per-monitor
// DPI awareness, so the system no longer stretches the window as a bitmap: what the dialog
// template gives in dialog units follows the DPI by itself, what is placed in pixels (the comment
// viewer and its font) is scaled here.
#include "sfx/win32/dialog_look.h"

#include "sfx/core/installer.h"

namespace {

constexpr int kDesignDpi = 96;

// The window's DPI: GetDpiForWindow where the system has it (Windows 10 1607 and later), else
// the screen's logical DPI, which older systems use for every window.
UINT WindowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    // Looked up on each call: a function-local static would bring the C++ runtime's guard code,
    // and with it the exception machinery, into the stub.
    const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) return dpi;
    }
    HDC screen = GetDC(window);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : kDesignDpi;
    if (screen != nullptr) ReleaseDC(window, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kDesignDpi;
}

}  // namespace

void ApplyPublisherTitle(HWND dialog, const format::SfxSettings& settings) {
    if (settings.title == nullptr) return;
    // The title is UTF-8; the wide call shows it right whatever the system's code page.
    wchar_t wide[format::kMaxSfxTitleBytes + 1];
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, settings.title, static_cast<int>(settings.titleLength),
                            wide, static_cast<int>(format::kMaxSfxTitleBytes));
    if (length <= 0) return;
    wide[length] = L'\0';
    SetWindowTextW(dialog, wide);
}

int ScaleToWindowDpi(HWND window, int designPixels) {
    return MulDiv(designPixels, static_cast<int>(WindowDpi(window)), kDesignDpi);
}
