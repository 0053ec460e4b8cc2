/* A C program of a user of the installed library: lists an archive's entries through vorn.h. */
#include <stdio.h>
#include <vorn.h>

int main(int argc, char** argv) {
    void* handle = NULL;
    uint32_t status;
    uint64_t count;
    uint64_t i;
    VORN_FILEINFO info;
    if (argc != 2) return 2;
    status = vorn_OpenStream(&handle, argv[1], NULL, VORN_OPEN_READONLY);
    if (status != VORN_SUCCESS) {
        fprintf(stderr, "%s\n", vorn_GetErrorString((int)status));
        return 1;
    }
    count = vorn_GetNumFiles(handle);
    for (i = 0; i < count; ++i) {
        if (vorn_EnumerateFiles(handle, &info, i) != VORN_SUCCESS) return 1;
        printf("%s %llu\n", info.szName, (unsigned long long)info.qwUnpackedSize);
    }
    vorn_CloseStream(handle);
    return 0;
}
