// Poly1305 (RFC 8439 section 2.5): the one-time authenticator of the AEAD. A key must never
// authenticate two messages; the AEAD derives a fresh one from each nonce.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kPoly1305KeyBytes = 32;
constexpr size_t kPoly1305TagBytes = 16;

// Incremental Poly1305; the state is wiped by Final and on destruction.
class Poly1305 {
  public:
    explicit Poly1305(const uint8_t key[kPoly1305KeyBytes]);
    void Update(const void* data, size_t length);
    void Final(uint8_t tag[kPoly1305TagBytes]);
    ~Poly1305();

  private:
    void Blocks(const uint8_t* data, size_t length, uint32_t highBit);

    uint32_t r_[5];  // the clamped multiplier in 26-bit limbs
    uint32_t h_[5];  // the accumulator, likewise
    uint32_t pad_[4];
    uint8_t buffer_[16];
    size_t buffered_;
};
