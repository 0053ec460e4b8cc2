// CRC-32, Blowfish and ChaCha20-Poly1305 throughput against zlib and OpenSSL on the system's 8 MiB
// block size, and the cost of one Argon2id password check at the default m = 64 MiB, t = 3, p = 1
// (which must stay at 0.1 s or more here, the price of each guess).
// Run: build/<dir>/bench/crypto_bench   (bytes_per_second is the figure to compare)
#include <benchmark/benchmark.h>
#include <openssl/blowfish.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

#include "crypto/aead.h"
#include "crypto/argon2.h"
#include "crypto/blowfish.h"
#include "crypto/crc32.h"

namespace {

constexpr size_t BUFFER_BYTES = 8u << 20;
const char PASSWORD[] = "benchmark password";

std::vector<unsigned char>& Buffer() {
    static std::vector<unsigned char> buffer = [] {
        std::vector<unsigned char> v(BUFFER_BYTES);
        std::mt19937 rng(1);
        for (auto& b : v) b = static_cast<unsigned char>(rng());
        return v;
    }();
    return buffer;
}

void SetThroughput(benchmark::State& state) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(BUFFER_BYTES));
}

// What Update picks on this CPU: 256-bit folding, else 128-bit folding, else slicing-by-8.
void BM_Crc32_Vorn(benchmark::State& state) {
    auto& buffer = Buffer();
    for (auto _ : state) {
        Crc32 crc;
        benchmark::DoNotOptimize(crc.Update(buffer.data(), uint32_t(buffer.size())));
    }
    SetThroughput(state);
}

void BM_Crc32_VornFolded128(benchmark::State& state) {
    auto& buffer = Buffer();
    if (!Crc32HasCarrylessMultiply()) state.SkipWithError("no PCLMULQDQ");
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc32UpdateFolded(0xFFFFFFFF, buffer.data(), buffer.size()));
    }
    SetThroughput(state);
}

void BM_Crc32_VornSliced(benchmark::State& state) {
    auto& buffer = Buffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc32UpdateSliced(0xFFFFFFFF, buffer.data(), buffer.size()));
    }
    SetThroughput(state);
}

void BM_Crc32_Zlib(benchmark::State& state) {
    auto& buffer = Buffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32_z(0, buffer.data(), buffer.size()));
    }
    SetThroughput(state);
}

void BM_Decrypt_Vorn(benchmark::State& state) {
    auto& buffer = Buffer();
    for (auto _ : state) {
        // Keys once per call, as the entry decoder does per block body.
        DecryptBuffer(buffer.data(), uint32_t(buffer.size()), PASSWORD);
        benchmark::ClobberMemory();
    }
    SetThroughput(state);
}

void BM_Decrypt_OpenSsl(benchmark::State& state) {
    auto& buffer = Buffer();
    BF_KEY key;
    BF_set_key(&key, int(sizeof PASSWORD - 1), reinterpret_cast<const unsigned char*>(PASSWORD));
    for (auto _ : state) {
        for (size_t offset = 0; offset < buffer.size(); offset += 8) {
            BF_ecb_encrypt(buffer.data() + offset, buffer.data() + offset, &key, BF_DECRYPT);
        }
        benchmark::ClobberMemory();
    }
    SetThroughput(state);
}

void BM_SetKey_Vorn(benchmark::State& state) {
    BlowfishContext ctx;
    for (auto _ : state) {
        BlowfishSetPassword(&ctx, PASSWORD);
        benchmark::DoNotOptimize(ctx.S[3][255]);
    }
}

void BM_SetKey_OpenSsl(benchmark::State& state) {
    BF_KEY key;
    for (auto _ : state) {
        BF_set_key(&key, int(sizeof PASSWORD - 1),
                   reinterpret_cast<const unsigned char*>(PASSWORD));
        benchmark::DoNotOptimize(key.S[1023]);
    }
}

const uint8_t AEAD_KEY[kAeadKeyBytes] = {1, 2, 3};
const uint8_t AEAD_NONCE[kAeadNonceBytes] = {4, 5, 6};

void BM_ChaCha20Poly1305Seal_Vorn(benchmark::State& state) {
    auto& buffer = Buffer();
    uint8_t tag[kAeadTagBytes];
    for (auto _ : state) {
        ChaCha20Poly1305Seal(AEAD_KEY, AEAD_NONCE,
                             {nullptr, 0, buffer.data(), buffer.data(), buffer.size()}, tag);
        benchmark::DoNotOptimize(tag[0]);
    }
    SetThroughput(state);
}

// Open over a wrong tag: the whole body is authenticated, nothing deciphered (the cost of a
// tampered block); a right tag costs what Seal costs.
void BM_ChaCha20Poly1305OpenRefused_Vorn(benchmark::State& state) {
    auto& buffer = Buffer();
    const uint8_t tag[kAeadTagBytes] = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(ChaCha20Poly1305Open(
            AEAD_KEY, AEAD_NONCE, {nullptr, 0, buffer.data(), buffer.data(), buffer.size()}, tag));
    }
    SetThroughput(state);
}

void BM_ChaCha20Poly1305Seal_OpenSsl(benchmark::State& state) {
    auto& buffer = Buffer();
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    uint8_t tag[kAeadTagBytes];
    for (auto _ : state) {
        int length = 0;
        EVP_EncryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, AEAD_KEY, AEAD_NONCE);
        EVP_EncryptUpdate(ctx, buffer.data(), &length, buffer.data(), int(buffer.size()));
        EVP_EncryptFinal_ex(ctx, buffer.data() + length, &length);
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, sizeof tag, tag);
        benchmark::DoNotOptimize(tag[0]);
    }
    EVP_CIPHER_CTX_free(ctx);
    SetThroughput(state);
}

// One password check: the derivation a reader runs once per archive and password.
void BM_Argon2id_64MiB_t3_p1(benchmark::State& state) {
    const uint8_t salt[16] = {9};
    const Argon2Inputs inputs{reinterpret_cast<const uint8_t*>(PASSWORD),
                              sizeof PASSWORD - 1,
                              salt,
                              sizeof salt,
                              nullptr,
                              0,
                              nullptr,
                              0};
    uint8_t key[32];
    for (auto _ : state) {
        if (Argon2idAllocating({64 * 1024, 3, 1}, inputs, size_t(64) << 20, key, sizeof key) !=
            Argon2Status::Ok) {
            state.SkipWithError("Argon2id failed");
        }
        benchmark::DoNotOptimize(key[0]);
    }
}

}  // namespace

BENCHMARK(BM_Crc32_Vorn);
BENCHMARK(BM_Crc32_VornFolded128);
BENCHMARK(BM_Crc32_VornSliced);
BENCHMARK(BM_Crc32_Zlib);
BENCHMARK(BM_Decrypt_Vorn);
BENCHMARK(BM_Decrypt_OpenSsl);
BENCHMARK(BM_SetKey_Vorn);
BENCHMARK(BM_SetKey_OpenSsl);
BENCHMARK(BM_ChaCha20Poly1305Seal_Vorn);
BENCHMARK(BM_ChaCha20Poly1305OpenRefused_Vorn);
BENCHMARK(BM_ChaCha20Poly1305Seal_OpenSsl);
BENCHMARK(BM_Argon2id_64MiB_t3_p1)->Unit(benchmark::kMillisecond)->MinTime(2);

BENCHMARK_MAIN();
