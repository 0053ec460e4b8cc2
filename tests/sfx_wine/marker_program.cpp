// The program the installer tests pack into a self-extractor: it writes a marker file holding
// its working folder, its command line and the access list of its working folder (SDDL), then
// ends with exit code 7. The marker goes to the path given as its first argument, or to
// marker.txt in its working folder. "--leave-late MARKER" starts a copy of itself that writes
// late.txt into the working folder two seconds later, and then MARKER holding that folder, and ends
// at once, as a bootstrapper does.
#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

namespace {

void WriteAccessList(FILE* out, const wchar_t* folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    wchar_t* text = nullptr;
    if (GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        std::fprintf(out, "%ls\n", text);
    } else {
        std::fprintf(out, "no access list\n");
    }
    if (text != nullptr) LocalFree(text);
    if (descriptor != nullptr) LocalFree(descriptor);
}

int LeaveLate(const wchar_t* marker) {
    wchar_t self[1024];
    GetModuleFileNameW(nullptr, self, 1024);
    wchar_t line[3072];
    wsprintfW(line, L"\"%s\" --late \"%s\"", self, marker);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(self, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 3;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 7;
}

int Late(const wchar_t* marker) {
    Sleep(2000);
    FILE* late = _wfopen(L"late.txt", L"wb");
    if (late == nullptr) return 3;
    std::fclose(late);
    wchar_t folder[1024] = L"";
    GetCurrentDirectoryW(1024, folder);
    FILE* out = _wfopen(marker, L"wb");
    if (out == nullptr) return 3;
    std::fprintf(out, "%ls\n", folder);
    std::fclose(out);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 2 && lstrcmpW(argv[1], L"--leave-late") == 0) return LeaveLate(argv[2]);
    if (argc > 2 && lstrcmpW(argv[1], L"--late") == 0) return Late(argv[2]);
    wchar_t folder[1024] = L"";
    GetCurrentDirectoryW(1024, folder);
    const wchar_t* target = argc > 1 ? argv[1] : L"marker.txt";
    FILE* out = _wfopen(target, L"wb");
    if (out == nullptr) return 3;
    char text[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, folder, -1, text, sizeof text, nullptr, nullptr);
    std::fprintf(out, "%s\n", n > 0 ? text : "");
    n = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, text, sizeof text, nullptr, nullptr);
    std::fprintf(out, "%s\n", n > 0 ? text : "");
    WriteAccessList(out, folder);
    std::fclose(out);
    return 7;
}
