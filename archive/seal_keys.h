// The keys of a sealed archive as a handle keeps them: the seal block and associated data its
// open read, the key of the open's password, and a few keys of other passwords that extraction
// calls gave, each derived once (a derivation costs what a password guess must cost) and kept
// until the close, which wipes them. Passwords are known here only by their BLAKE2b digest, so
// that a password of any length finds its key.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/sealed.h"
#include "format/status.h"

namespace archive {

using format::Status;

constexpr uint32_t kPasswordDigestBytes = 32;
constexpr uint32_t kCachedSealKeys = 4;

struct SealKeySlot {
    bool used;
    uint8_t passwordDigest[kPasswordDigestBytes];
    uint8_t key[format::kSealKeyBytes];
};

// Part of the handle, which is zeroed at its making: not sealed, no keys. A handle serves one
// thread at a time, so the cache needs no lock; the open's key, digest and associated data
// never change after the open, and another handle's open may copy them.
struct SealState {
    bool sealed;
    format::SealBlock block;
    uint8_t aad[format::kSealAadBytes];
    uint8_t openDigest[kPasswordDigestBytes];
    uint8_t openKey[format::kSealKeyBytes];
    uint8_t settingsDigest[format::kSettingsDigestBytes];
    SealKeySlot others[kCachedSealKeys];
    uint32_t nextSlot;
};

// The digest by which the keys of password are found.
void DigestPassword(const char* password, uint8_t digest[kPasswordDigestBytes]);

// Argon2id of password with the seal block's salt and parameters into key, in a work area that
// is freed (and wiped) before the call returns. The parameters must have passed
// format::SealParametersAllowed. NoMemory when the work area cannot be had.
Status DeriveSealKey(const format::SealBlock& block, const char* password,
                     uint8_t key[format::kSealKeyBytes]);

// The key of password: the open's, one derived before, or derived now and kept (the oldest of
// the kept keys gives way). *key points into state.
Status SealKeyFor(SealState* state, const char* password, const uint8_t** key);

// Wipes every key and digest.
void WipeSealState(SealState* state);

}  // namespace archive
