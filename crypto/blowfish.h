// Blowfish (16 rounds, ECB) keyed by a password's bytes. A cipher block in a buffer is two
// little-endian 32-bit halves, L from bytes 0-3 and R from bytes 4-7.
#pragma once

#include <cstdint>

struct BlowfishContext {
    uint32_t P[18];
    uint32_t S[4][256];
};

void BlowfishSetKey(BlowfishContext* ctx, const unsigned char* key, int keyLength);
void BlowfishEncryptBlock(const BlowfishContext* ctx, uint32_t* L, uint32_t* R);

// Keys a fresh context from password (key length = its length) and deciphers the buffer in place,
// 8 bytes at a time from offset 0. count is a multiple of 8.
void DecryptBuffer(unsigned char* buffer, uint32_t count, const char* password);
// The writer's inverse of DecryptBuffer.
void EncryptBuffer(unsigned char* buffer, uint32_t count, const char* password);

// Deciphers (enciphers) a 16-byte name-table unit as two independent 8-byte blocks.
void DecryptNameUnit(const BlowfishContext* ctx, unsigned char unit[16]);
void EncryptNameUnit(const BlowfishContext* ctx, unsigned char unit[16]);

// Keys ctx from a NUL-terminated password.
void BlowfishSetPassword(BlowfishContext* ctx, const char* password);
