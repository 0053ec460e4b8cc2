// Restricting the DLL search of a Windows program to the system folder, and loading a DLL from
// there (platform/win32/dll_search.h). Both calls reach kernel32, which is mapped into every
// process before any program code runs, so neither can itself load a planted DLL.
#include "platform/win32/dll_search.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace platform {

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// Present from Windows 8 on, and on Vista and 7 with their loader update; looked up, so that the
// program still starts on a system without it.
SetDefaultDllDirectoriesFn FindSetDefaultDllDirectories() {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return nullptr;
    return reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
}

// The loader-update flag is refused as an invalid parameter by a system without it; there the
// DLL is loaded by its full path in the system folder, which the loader takes as it is.
HMODULE LoadByFullSystemPath(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    UINT folder = GetSystemDirectoryW(path, MAX_PATH);
    size_t nameLength = static_cast<size_t>(lstrlenW(name));
    if (folder == 0 || folder + 1 + nameLength >= MAX_PATH) return nullptr;
    path[folder] = L'\\';
    lstrcpyW(path + folder + 1, name);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

void RestrictDllSearchToSystem() {
    if (SetDefaultDllDirectoriesFn setDefault = FindSetDefaultDllDirectories()) {
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // Takes the current folder out of the search where the call above is missing; harmless
    // where it is not.
    SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        module = LoadByFullSystemPath(name);
    }
    return module;
}

}  // namespace platform
