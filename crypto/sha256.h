// SHA-256 (FIPS 180-4, RFC 6234): the digest a self-extractor keeps of an archive packed beside
// it, so that a signature of the program covers the archive's bytes too. Incremental, fixed-size
// state, no allocation: the Windows stub hashes a file of any size through it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kSha256Bytes = 32;
constexpr size_t kSha256BlockBytes = 64;

class Sha256 {
  public:
    Sha256();
    void Update(const void* data, size_t length);
    // Writes the digest of everything fed; the object must not be fed again afterwards.
    void Final(uint8_t digest[kSha256Bytes]);

  private:
    void Compress(const uint8_t block[kSha256BlockBytes]);

    uint32_t h_[8];
    uint64_t bytes_ = 0;
    uint8_t buffer_[kSha256BlockBytes];
    size_t buffered_ = 0;
};

// One-shot SHA-256.
void Sha256Hash(const void* data, size_t length, uint8_t digest[kSha256Bytes]);
