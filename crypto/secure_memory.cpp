// Wipe and constant-time comparison. The wipe writes through a volatile pointer and then tells the
// compiler that the memory was used, so that neither dead-store elimination nor link-time
// optimisation removes it from a destructor that runs just before the memory is freed.
#include "crypto/secure_memory.h"

#include <cstring>

void SecureWipe(void* buffer, size_t length) {
    if (length == 0) return;  // memset of a null buffer is undefined even for no bytes
#if defined(__GNUC__) || defined(__clang__)
    // The empty statement says it reads the buffer and all memory, so the compiler must keep the
    // memset before it: whole-word stores, where a volatile byte loop costs ChaCha20, which wipes
    // its keystream every four blocks, about a seventh of its speed.
    std::memset(buffer, 0, length);
    __asm__ __volatile__("" : : "r"(buffer) : "memory");
#else
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(buffer);
    for (size_t i = 0; i < length; ++i) bytes[i] = 0;
#endif
}

bool ConstantTimeEqual(const void* a, const void* b, size_t length) {
    const volatile unsigned char* x = static_cast<const volatile unsigned char*>(a);
    const volatile unsigned char* y = static_cast<const volatile unsigned char*>(b);
    unsigned difference = 0;
    for (size_t i = 0; i < length; ++i) difference |= unsigned(x[i] ^ y[i]);
    // 0 only when every byte matched; no branch on the accumulated value until here.
    return ((difference - 1) >> 8) & 1;
}
