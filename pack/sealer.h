// The writer's side of a sealed archive (format/sealed.h): the seal block, the keys of the
// archive's passwords, each derived once per archive, and the seal of every piece under the
// nonce of its place. An entry's stored data is cut into segments by SegmentSealer as it is
// written, so that no entry has to fit in memory.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "format/sealed.h"
#include "format/status.h"

namespace pack {

// How an archive is sealed. An archive packed for use gets the default parameters and a fresh
// salt from the system's random source; tests fix both to make known bytes.
struct SealOptions {
    std::string password;  // the archive's; never empty
    uint32_t memoryKiB = 65536;
    uint32_t passes = 3;
    uint32_t lanes = 1;
    std::optional<std::array<uint8_t, format::kSaltBytes>> salt;  // unset: random
};

class Sealer {
  public:
    Sealer() = default;
    ~Sealer();  // wipes the keys and passwords
    Sealer(const Sealer&) = delete;
    Sealer& operator=(const Sealer&) = delete;

    // Settles the seal block and derives the archive key; header is the archive's header as
    // written at the open (format::SealAad leaves out what changes later). InvalidArgument for
    // an empty password, parameters a reader refuses or no random salt; NoMemory when the key
    // derivation gets no memory. error then says why.
    format::Status Begin(const SealOptions& options, const uint8_t header[format::kHeaderBytes],
                         std::string* error);
    const uint8_t* SealBlockBytes() const { return sealBlock_; }

    // The key an entry with password (unset: the archive's) is sealed under, and the enciphered
    // byte its record carries. A password other than the archive's gets its key derived with
    // the archive's salt, once. InvalidArgument for an empty password; error says why.
    format::Status KeyFor(const std::optional<std::string>& password, uint8_t* enciphered,
                          const uint8_t** key, std::string* error);
    const uint8_t* ArchiveKey() const { return keys_.front().key; }
    bool IsArchivePassword(const std::string& password) const {
        return keys_.front().password == password;
    }

    // out receives size enciphered bytes of in and then the tag; in and out may be the same.
    void Seal(const uint8_t* key, const uint8_t nonce[format::kSealNonceBytes], const uint8_t* in,
              size_t size, uint8_t* out) const;

  private:
    struct Key {
        std::string password;
        uint8_t key[format::kSealKeyBytes];
    };
    format::Status Derive(const std::string& password, std::string* error);

    format::SealBlock seal_;
    uint8_t sealBlock_[format::kSealBlockBytes] = {};
    uint8_t aad_[format::kSealAadBytes] = {};
    std::deque<Key> keys_;  // the archive's first; a deque, so that key pointers stay put
};

// Cuts one entry's stored data into sealed segments: full segments are sealed once more data
// follows them, the last (short, full or, for an entry of 0 bytes, empty) at Finish, with the
// last-segment byte of its nonce set.
class SegmentSealer {
  public:
    using Output = std::function<format::Status(const uint8_t* bytes, size_t size)>;

    ~SegmentSealer();  // wipes the plain bytes it holds
    void Start(const Sealer& sealer, const uint8_t* key, uint64_t entryIndex);
    format::Status Add(const uint8_t* data, size_t size, const Output& output);
    format::Status Finish(const Output& output);
    uint64_t PlainBytes() const { return plainBytes_; }

  private:
    format::Status SealHeld(bool last, const Output& output);

    const Sealer* sealer_ = nullptr;
    const uint8_t* key_ = nullptr;
    uint64_t entryIndex_ = 0;
    uint32_t segmentIndex_ = 0;
    uint64_t plainBytes_ = 0;
    std::vector<uint8_t> held_;  // up to one segment, and room for its tag
    size_t heldBytes_ = 0;
};

}  // namespace pack
