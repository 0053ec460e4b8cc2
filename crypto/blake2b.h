// BLAKE2b (RFC 7693): the hash inside Argon2, with any digest length from 1 to 64 bytes and the
// optional key of up to 64 bytes; and Argon2's variable-length hash H' built on it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kBlake2bBlockBytes = 128;
constexpr size_t kBlake2bMaxDigestBytes = 64;
constexpr size_t kBlake2bMaxKeyBytes = 64;

// An incremental hash. The state is wiped when the hash is finished and when it goes out of scope,
// as it holds the key in keyed mode.
class Blake2b {
  public:
    // False (and a state that must not be used) when digestLength is not 1-64 or keyLength > 64.
    bool Init(size_t digestLength, const uint8_t* key = nullptr, size_t keyLength = 0);
    void Update(const void* data, size_t length);
    // Writes the digestLength bytes chosen at Init.
    void Final(uint8_t* digest);
    ~Blake2b() { Wipe(); }

  private:
    void Compress(const uint8_t block[kBlake2bBlockBytes], bool last);
    void Wipe();

    uint64_t h_[8];
    uint64_t bytesLow_;
    uint64_t bytesHigh_;
    uint8_t buffer_[kBlake2bBlockBytes];
    size_t buffered_;
    size_t digestLength_;
};

// One-shot BLAKE2b; false on the lengths Init refuses.
bool Blake2bHash(uint8_t* digest, size_t digestLength, const void* data, size_t length,
                 const uint8_t* key = nullptr, size_t keyLength = 0);

// Argon2's H' (RFC 9106 section 3.3): a digest of any length from 1 to 2^32-1 bytes of the bytes
// head followed by tail (two parts, as Argon2 hashes a prefix and a counter without copying).
bool Blake2bLong(uint8_t* digest, uint32_t digestLength, const void* head, size_t headLength,
                 const void* tail = nullptr, size_t tailLength = 0);
