// The DLL an attacker saves beside a downloaded program, for the DLL search tests: copied under
// the names of system DLLs that are not known DLLs, it appends its own file name as a line to
// the file named by VORN_PLANTED_DLL_MARKER as soon as any process maps it. The mark is made in
// DllMain, which runs once the loader has resolved the functions an importer asks for, so the
// DLL also exports the functions the programs under test imported from those DLLs; each fails.
#include <windows.h>

namespace {

void MarkLoaded(HINSTANCE self) {
    wchar_t target[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"VORN_PLANTED_DLL_MARKER", target, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    wchar_t module[MAX_PATH];
    DWORD moduleLength = GetModuleFileNameW(self, module, MAX_PATH);
    char line[MAX_PATH * 3 + 2];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, module, static_cast<int>(moduleLength), line,
                                    MAX_PATH * 3, nullptr, nullptr);
    line[bytes++] = '\n';
    HANDLE file = CreateFileW(target, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(bytes), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) MarkLoaded(self);
    return TRUE;
}

// comctl32
extern "C" __declspec(dllexport) void WINAPI InitCommonControls() {}
extern "C" __declspec(dllexport) BOOL WINAPI InitCommonControlsEx(const void*) {
    return FALSE;
}
// bcrypt
extern "C" __declspec(dllexport) LONG WINAPI BCryptGenRandom(void*, UCHAR*, ULONG, ULONG) {
    return static_cast<LONG>(0xC0000001);  // STATUS_UNSUCCESSFUL
}
// version
extern "C" __declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(const wchar_t*, DWORD*) {
    return 0;
}
extern "C" __declspec(dllexport) BOOL WINAPI
    GetFileVersionInfoW(const wchar_t*, DWORD, DWORD, void*) {
    return FALSE;
}
extern "C" __declspec(dllexport) BOOL WINAPI
    VerQueryValueW(const void*, const wchar_t*, void**, UINT*) {
    return FALSE;
}
