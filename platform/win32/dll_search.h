// Where a Windows program of this project finds its DLLs. A program started from a download
// folder shares that folder with whatever else the browser saved there, and Windows looks beside
// the program first for every DLL that is not one of its known DLLs; so each program restricts the
// search to the system folder before anything can load a DLL, and loads the DLLs it needs beyond
// the known ones from there by name.
#pragma once

#include <windows.h>

namespace platform {

// The first call of every program: from now on a DLL loaded by name, by this program or by a
// system library on its behalf, comes from the system folder alone. Where the system lacks that
// setting (Vista and 7 without their loader update), the program's current folder at least
// leaves the search.
void RestrictDllSearchToSystem();

// The DLL of this name (such as L"comctl32.dll") from the system folder, never from beside the
// program; null when the system has none.
HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace platform
