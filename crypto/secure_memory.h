// Handling of secret bytes: a wipe the optimiser cannot drop and a comparison whose time does not
// depend on where two tags differ. Everything in crypto/ that holds a key wipes it with SecureWipe.
#pragma once

#include <cstddef>

// Overwrites length bytes with zeros, also when the buffer is never read again.
void SecureWipe(void* buffer, size_t length);

// True when the two buffers hold the same bytes; reads every byte whatever the answer.
bool ConstantTimeEqual(const void* a, const void* b, size_t length);
