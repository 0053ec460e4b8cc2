// The system's random source: getrandom on Linux, getentropy on other POSIX systems, and
// RtlGenRandom (advapi32's SystemFunction036) on Windows. advapi32 is one of Windows' known DLLs,
// always loaded from the system directory, whereas bcrypt.dll is not: a static import of it could
// be answered by a planted copy beside a self-extractor in a Downloads folder.
#include "crypto/random_bytes.h"

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
// Declared by ntsecapi.h as RtlGenRandom; declared here to keep that header's baggage out.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);
#elif defined(__linux__)
#include <sys/random.h>

#include <cerrno>
#else
#include <unistd.h>
#endif

bool SystemRandomBytes(void* buffer, size_t length) {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    while (length) {
#if defined(_WIN32)
        const ULONG n = length > 0x10000 ? 0x10000 : static_cast<ULONG>(length);
        if (!SystemFunction036(out, n)) return false;
#elif defined(__linux__)
        const ssize_t got = getrandom(out, length, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        const size_t n = static_cast<size_t>(got);
#else
        const size_t n = length > 256 ? 256 : length;  // getentropy's limit per call
        if (getentropy(out, n) != 0) return false;
#endif
        out += n;
        length -= n;
    }
    return true;
}
