// Deriving and keeping the keys of a sealed archive's passwords.
#include "archive/seal_keys.h"

#include <cstring>

#include "crypto/argon2.h"
#include "crypto/blake2b.h"
#include "crypto/secure_memory.h"

namespace archive {

namespace {

// The largest work area any allowed parameters need.
size_t MaxWorkBytes() {
    return Argon2idWorkBytes(
        Argon2Params{format::kSealMaxMemoryKiB, format::kSealMaxPasses, format::kSealMaxLanes});
}

}  // namespace

void DigestPassword(const char* password, uint8_t digest[kPasswordDigestBytes]) {
    Blake2bHash(digest, kPasswordDigestBytes, password, std::strlen(password));
}

Status DeriveSealKey(const format::SealBlock& block, const char* password,
                     uint8_t key[format::kSealKeyBytes]) {
    if (!format::SealParametersAllowed(block)) return Status::Corrupt;
    const Argon2Params params{block.memoryKiB, block.passes, block.lanes};
    Argon2Inputs inputs{};
    inputs.password = reinterpret_cast<const uint8_t*>(password);
    inputs.passwordLength = std::strlen(password);
    inputs.salt = block.salt;
    inputs.saltLength = format::kSaltBytes;
    switch (Argon2idAllocating(params, inputs, MaxWorkBytes(), key, format::kSealKeyBytes)) {
        case Argon2Status::Ok:
            return Status::Ok;
        case Argon2Status::OutOfMemory:
            return Status::NoMemory;
        default:
            return Status::Corrupt;
    }
}

Status SealKeyFor(SealState* state, const char* password, const uint8_t** key) {
    uint8_t digest[kPasswordDigestBytes];
    DigestPassword(password, digest);
    if (ConstantTimeEqual(digest, state->openDigest, sizeof digest)) {
        SecureWipe(digest, sizeof digest);
        *key = state->openKey;
        return Status::Ok;
    }
    for (SealKeySlot& slot : state->others) {
        if (slot.used && ConstantTimeEqual(digest, slot.passwordDigest, sizeof digest)) {
            SecureWipe(digest, sizeof digest);
            *key = slot.key;
            return Status::Ok;
        }
    }
    SealKeySlot& slot = state->others[state->nextSlot];
    slot.used = false;
    Status status = DeriveSealKey(state->block, password, slot.key);
    if (status == Status::Ok) {
        std::memcpy(slot.passwordDigest, digest, sizeof digest);
        slot.used = true;
        state->nextSlot = (state->nextSlot + 1) % kCachedSealKeys;
        *key = slot.key;
    }
    SecureWipe(digest, sizeof digest);
    return status;
}

void WipeSealState(SealState* state) {
    SecureWipe(state, sizeof *state);
}

}  // namespace archive
