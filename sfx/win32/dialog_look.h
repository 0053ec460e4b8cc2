// How the main dialog looks beyond its template: the publisher's title, set at start-up, and the
// sizes placed in pixels, scaled from the 96 DPI they were designed at to the window's DPI. Kept
// apart from the dialog's behaviour in sfx_main.cpp.
#pragma once

#include <windows.h>

#include "format/sfx_settings.h"

// Sets the dialog's caption to the title chosen at packing, when there is one; otherwise the
// template's caption stays.
void ApplyPublisherTitle(HWND dialog, const format::SfxSettings& settings);

// A length designed in pixels at 96 DPI, at the DPI of window: the same at 96 DPI, twice at 192.
int ScaleToWindowDpi(HWND window, int designPixels);
