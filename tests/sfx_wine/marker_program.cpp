// The program the installer tests pack into a self-extractor: it writes a marker file holding
// its working folder and its command line, then ends with exit code 7. The marker goes to the
// path given as its first argument, or to marker.txt in its working folder.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
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
    std::fclose(out);
    return 7;
}
