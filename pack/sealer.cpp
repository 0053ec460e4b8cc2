// Sealing: one Argon2id derivation per distinct password of an archive, and ChaCha20-Poly1305
// over every piece with the nonce format/sealed.h gives its place.
#include "pack/sealer.h"

#include <algorithm>

#include "crypto/aead.h"
#include "crypto/argon2.h"
#include "crypto/random_bytes.h"
#include "crypto/secure_memory.h"

namespace pack {

using format::Status;

Sealer::~Sealer() {
    for (Key& k : keys_) {
        SecureWipe(k.key, sizeof k.key);
        SecureWipe(k.password.data(), k.password.size());
    }
}

Status Sealer::Begin(const SealOptions& options, const uint8_t header[format::kHeaderBytes],
                     std::string* error) {
    seal_.memoryKiB = options.memoryKiB;
    seal_.passes = options.passes;
    seal_.lanes = options.lanes;
    if (!format::SealParametersAllowed(seal_)) {
        *error = "key derivation parameters outside what readers accept";
        return Status::InvalidArgument;
    }
    if (options.salt) {
        std::copy(options.salt->begin(), options.salt->end(), seal_.salt);
    } else if (!SystemRandomBytes(seal_.salt, sizeof seal_.salt)) {
        *error = "the system gives no random bytes for the salt";
        return Status::InvalidArgument;
    }
    format::EncodeSealBlock(seal_, sealBlock_);
    format::SealAad(header, sealBlock_, aad_);
    if (options.password.empty()) {
        *error = "a sealed archive needs a password that is not empty";
        return Status::InvalidArgument;
    }
    return Derive(options.password, error);
}

Status Sealer::Derive(const std::string& password, std::string* error) {
    const Argon2Params params{seal_.memoryKiB, seal_.passes, seal_.lanes};
    const Argon2Inputs inputs{reinterpret_cast<const uint8_t*>(password.data()),
                              password.size(),
                              seal_.salt,
                              sizeof seal_.salt,
                              nullptr,
                              0,
                              nullptr,
                              0};
    Key& k = keys_.emplace_back();
    k.password = password;
    const Argon2Status derived =
        Argon2idAllocating(params, inputs, Argon2idWorkBytes(params), k.key, format::kSealKeyBytes);
    if (derived == Argon2Status::Ok) return Status::Ok;
    SecureWipe(k.password.data(), k.password.size());
    keys_.pop_back();
    *error = "cannot derive the key: no memory for the key derivation";
    return derived == Argon2Status::OutOfMemory ? Status::NoMemory : Status::InvalidArgument;
}

Status Sealer::KeyFor(const std::optional<std::string>& password, uint8_t* enciphered,
                      const uint8_t** key, std::string* error) {
    const std::string& wanted = password ? *password : keys_.front().password;
    if (wanted.empty()) {
        *error = "an entry's password must not be empty";
        return Status::InvalidArgument;
    }
    auto same = [&](const Key& k) { return k.password == wanted; };
    auto it = std::find_if(keys_.begin(), keys_.end(), same);
    if (it == keys_.end()) {
        const Status derived = Derive(wanted, error);
        if (derived != Status::Ok) return derived;
        it = keys_.end() - 1;
    }
    *enciphered = it == keys_.begin() ? format::kSealedUnderArchiveKey : format::kSealedUnderOwnKey;
    *key = it->key;
    return Status::Ok;
}

void Sealer::Seal(const uint8_t* key, const uint8_t nonce[format::kSealNonceBytes],
                  const uint8_t* in, size_t size, uint8_t* out) const {
    // Every piece the writer seals is at most a segment, a record, the trailer or the names,
    // all far below the cipher's limit, so the seal cannot fail.
    ChaCha20Poly1305Seal(key, nonce, {aad_, sizeof aad_, in, out, size}, out + size);
}

SegmentSealer::~SegmentSealer() {
    SecureWipe(held_.data(), held_.size());
}

void SegmentSealer::Start(const Sealer& sealer, const uint8_t* key, uint64_t entryIndex) {
    sealer_ = &sealer;
    key_ = key;
    entryIndex_ = entryIndex;
    segmentIndex_ = 0;
    plainBytes_ = 0;
    heldBytes_ = 0;
    held_.resize(format::kSegmentSealedBytes);
}

Status SegmentSealer::SealHeld(bool last, const Output& output) {
    uint8_t nonce[format::kSealNonceBytes];
    format::SealNonce(format::kSealSegment, entryIndex_, segmentIndex_, last, nonce);
    sealer_->Seal(key_, nonce, held_.data(), heldBytes_, held_.data());
    const Status status = output(held_.data(), heldBytes_ + format::kSealTagBytes);
    heldBytes_ = 0;
    return status;
}

Status SegmentSealer::Add(const uint8_t* data, size_t size, const Output& output) {
    while (size > 0) {
        if (heldBytes_ == format::kSegmentPlainBytes) {
            // More follows the held segment, so it is not the last.
            if (segmentIndex_ == UINT32_MAX) return Status::InvalidArgument;
            const Status status = SealHeld(false, output);
            if (status != Status::Ok) return status;
            ++segmentIndex_;
        }
        const size_t n = std::min(size, format::kSegmentPlainBytes - heldBytes_);
        std::copy(data, data + n, held_.data() + heldBytes_);
        heldBytes_ += n;
        plainBytes_ += n;
        data += n;
        size -= n;
    }
    return Status::Ok;
}

Status SegmentSealer::Finish(const Output& output) {
    const Status status = SealHeld(true, output);
    SecureWipe(held_.data(), held_.size());
    return status;
}

}  // namespace pack
