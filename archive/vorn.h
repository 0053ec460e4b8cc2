/* The VORN archive library: open an archive found anywhere inside a file, count, enumerate and look
 * up its entries, extract an entry to a file or to memory, lock, cancel, close, and turn a status
 * code into its text. Every call but vorn_GetNumFiles and vorn_GetErrorString returns a status
 * code; 0 is success. Strings are 8-bit and NUL-terminated. */
#ifndef VORN_H
#define VORN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define VORN_API __declspec(dllexport)
#else
#define VORN_API
#endif

/* Status codes. 0 to 12 have fixed texts; any other code reads "Unknown <?>". */
#define VORN_SUCCESS 0u
#define VORN_E_UNKNOWN 1u          /* a record walk ran out of file before the wanted entry */
#define VORN_E_INVALID_ARGUMENT 2u /* also: the extraction was cancelled */
#define VORN_E_CORRUPT 3u
#define VORN_E_NOT_FOUND 4u
#define VORN_E_EXISTS 5u
#define VORN_E_DISK_FULL 6u
#define VORN_E_OPEN_MODE 7u
#define VORN_E_LOCKED 8u
#define VORN_E_CRC 9u /* also how a wrong password shows */
#define VORN_E_PASSWORD_NEEDED 10u
#define VORN_E_NO_MEMORY 11u
#define VORN_E_OLD_FORMAT 12u
#define VORN_E_NAME_NOT_FOUND 64u /* vorn_GetFileInfo: no entry carries the name */

/* Open mode flags. */
#define VORN_OPEN_READWRITE 1u
#define VORN_OPEN_READONLY 2u

/* dwAttributes bit set when the entry's data is enciphered and needs a password. */
#define VORN_ATTR_ENCRYPTED 0x100u

typedef struct VORN_FILEINFO {
    uint32_t dwAttributes;   /* Windows attribute word of the record, plus VORN_ATTR_ENCRYPTED */
    uint32_t dwCRC;          /* CRC-32 of the decoded data */
    uint64_t qwStoredSize;   /* bytes of stored data in the archive */
    uint64_t qwUnpackedSize; /* bytes after decoding */
    uint64_t qwFileTime;     /* Windows FILETIME: 100 ns intervals since 1601-01-01 UTC */
    char szName[256];        /* entry name, "\" between levels, NUL-terminated */
} VORN_FILEINFO;

/* Percentage 0 to 100; called before each block and with 100 at the end of a run. */
typedef void (*ProgressCallback)(int percent);

VORN_API uint32_t vorn_OpenStream(void** handle, const char* path, const char* password,
                                  unsigned int mode);
VORN_API uint32_t vorn_CloseStream(void* handle);
VORN_API uint32_t vorn_LockArchive(void* handle);
VORN_API uint32_t vorn_CancelOperation(void* handle);
VORN_API uint64_t vorn_GetNumFiles(void* handle);
VORN_API const char* vorn_GetErrorString(int code);
VORN_API uint32_t vorn_EnumerateFiles(void* handle, VORN_FILEINFO* info, uint64_t index);
VORN_API uint32_t vorn_GetFileInfo(void* handle, VORN_FILEINFO* info, const char* name);
VORN_API uint32_t vorn_DecompressToFile(void* handle, const char* name, const char* path,
                                        ProgressCallback progress, const char* password);
VORN_API uint32_t vorn_DecompressToPtr(void* handle, const char* name, unsigned char* buffer,
                                       ProgressCallback progress, const char* password);

#ifdef __cplusplus
}
#endif

#endif /* VORN_H */
