// Argon2id version 0x13 (RFC 9106): the memory-hard derivation of a key from a password. The
// memory is one work area the caller provides (or bounds, through Argon2idAllocating), so that a
// reader can refuse parameters before anything is allocated. Lanes run one after another on the
// calling thread: the result is the same as with parallel lanes, only slower for p > 1.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kArgon2BlockBytes = 1024;
constexpr uint32_t kArgon2MaxLanes = 0xFFFFFF;
constexpr uint32_t kArgon2MinTagBytes = 4;

struct Argon2Params {
    uint32_t memoryKiB;  // m: at least 8 per lane
    uint32_t passes;     // t: at least 1
    uint32_t lanes;      // p: 1 to 2^24-1
};

// The byte strings Argon2 hashes. Any pointer may be null when its length is 0.
struct Argon2Inputs {
    const uint8_t* password;
    size_t passwordLength;
    const uint8_t* salt;
    size_t saltLength;
    const uint8_t* secret;  // K, optional
    size_t secretLength;
    const uint8_t* associatedData;  // X, optional
    size_t associatedDataLength;
};

enum class Argon2Status { Ok, BadParameters, WorkAreaTooSmall, OutOfMemory };

// Bytes of work area the parameters need (m rounded down to a multiple of 4p blocks of 1 KiB), or 0
// when the parameters are out of range.
size_t Argon2idWorkBytes(const Argon2Params& params);

// Derives tagLength (4 or more) bytes into tag. work must be 8-byte aligned and hold at least
// Argon2idWorkBytes(params) bytes; it is wiped before the call returns.
Argon2Status Argon2id(const Argon2Params& params, const Argon2Inputs& inputs, void* work,
                      size_t workBytes, uint8_t* tag, uint32_t tagLength);

// The same with a work area from malloc, refused (BadParameters) when the parameters need more than
// maxWorkBytes; freed and wiped before the call returns.
Argon2Status Argon2idAllocating(const Argon2Params& params, const Argon2Inputs& inputs,
                                size_t maxWorkBytes, uint8_t* tag, uint32_t tagLength);
