// The control of the DLL search tests: a program that loads each DLL named on its command line
// the ordinary way, by name with LoadLibraryW, as a program does that never restricts its search.
// Beside planted DLLs it loads those, which proves the planted ones are loadable and marked.
// The exit code is the number of names that did not load.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        if (LoadLibraryW(argv[i]) == nullptr) ++failed;
    }
    return failed;
}
