// Handling of secret bytes: a wipe the optimiser cannot drop and a comparison whose time does not
// depend on where two tags differ. Everything in crypto/ that holds a key wipes it with SecureWipe.
#pragma once

#include <cstddef>

// Overwrites length bytes with zeros, also when the buffer is never read again.
void SecureWipe(void* buffer, size_t length);

// True when the two buffers hold the same bytes; reads every byte whatever the answer.
bool ConstantTimeEqual(const void* a, const void* b, size_t length);

// Wipes a buffer when it goes out of scope, so that every way out of the function that holds a
// secret leaves no copy of it behind.
class WipeOnExit {
  public:
    WipeOnExit(void* buffer, size_t length) : buffer_(buffer), length_(length) {}
    ~WipeOnExit() { SecureWipe(buffer_, length_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

  private:
    void* buffer_;
    size_t length_;
};
