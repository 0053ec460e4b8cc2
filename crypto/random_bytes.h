// Random bytes from the operating system's generator, for salts and nonces.
#pragma once

#include <cstddef>

// Fills the buffer; false when the system gives none (the caller must then not go on).
bool SystemRandomBytes(void* buffer, size_t length);
