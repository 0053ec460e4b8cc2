// Blowfish's initial state, copied into every context at keying time: the P-array's 18 words,
// then S0 to S3. Generated into blowfish_init.cpp by scripts/gen-blowfish-tables.py.
#pragma once

#include <cstdint>

constexpr int BLOWFISH_INITIAL_WORDS = 18 + 4 * 256;

extern const uint32_t kBlowfishInitialWords[BLOWFISH_INITIAL_WORDS];
