// CRC-32 and Blowfish throughput against zlib and OpenSSL on the system's 8 MiB block size.
// Run: build/<dir>/bench/crypto_bench   (bytes_per_second is the figure to compare)
#include <benchmark/benchmark.h>
#include <openssl/blowfish.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

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

}  // namespace

BENCHMARK(BM_Crc32_Vorn);
BENCHMARK(BM_Crc32_VornFolded128);
BENCHMARK(BM_Crc32_VornSliced);
BENCHMARK(BM_Crc32_Zlib);
BENCHMARK(BM_Decrypt_Vorn);
BENCHMARK(BM_Decrypt_OpenSsl);
BENCHMARK(BM_SetKey_Vorn);
BENCHMARK(BM_SetKey_OpenSsl);

BENCHMARK_MAIN();
