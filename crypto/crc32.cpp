// CRC-32 (reflected, polynomial 0xEDB88320). The object keeps the classic one-table byte loop for
// short inputs; long inputs go to carry-less multiplication folding where the CPU has PCLMULQDQ,
// else to slicing-by-8 over shared tables computed at compile time. All three give the same
// register for the same bytes, whatever the split into calls.

#include "crypto/crc32.h"

#if defined(__x86_64__) || defined(__i386__)
#define VORN_CRC_CLMUL 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define VORN_CRC_CLMUL 0
#endif

// MinGW's compiler cannot align the stack for spilled 256-bit registers, so the wide kernel is left
// out of Windows builds rather than trusted never to spill.
#if defined(__x86_64__) && !defined(_WIN32)
#define VORN_CRC_WIDE 1
#else
#define VORN_CRC_WIDE 0
#endif

namespace {

constexpr uint32_t CRC_POLYNOMIAL = 0x04C11DB7;  // x^32 is implied
constexpr uint32_t CRC_POLYNOMIAL_REFLECTED = 0xEDB88320;

// Below this length the per-call setup of the faster kernels costs more than it saves.
constexpr uint32_t SHORT_INPUT = 16;
// The folding kernel runs this many 16-byte lanes side by side, as many as the registers hold
// with room to spare, and needs input for all of them to start.
#if defined(__x86_64__)
constexpr int FOLD_LANES = 8;
#else
constexpr int FOLD_LANES = 4;
#endif
constexpr size_t FOLD_MINIMUM = 16 * FOLD_LANES;

constexpr uint32_t ReflectConst(uint32_t value, int n) {
    uint32_t result = 0;
    for (int k = 0; k < n; ++k) {
        if (value & (1u << k)) result |= 1u << (n - 1 - k);
    }
    return result;
}

struct SliceTables {
    uint32_t t[8][256];
};

// t[0] is the byte table; t[k][b] is the register change of byte b followed by k zero bytes, so
// eight bytes can be looked up independently and combined with exclusive-or.
constexpr SliceTables MakeSliceTables() {
    SliceTables s{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t r = b;
        for (int i = 0; i < 8; ++i) r = (r >> 1) ^ ((r & 1) ? CRC_POLYNOMIAL_REFLECTED : 0);
        s.t[0][b] = r;
    }
    for (int k = 1; k < 8; ++k) {
        for (int b = 0; b < 256; ++b) {
            uint32_t prev = s.t[k - 1][b];
            s.t[k][b] = (prev >> 8) ^ s.t[0][prev & 0xFF];
        }
    }
    return s;
}

constexpr SliceTables kSlices = MakeSliceTables();

inline uint32_t LoadLe32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t ReflectBits(uint32_t value, int n) {
    if (n <= 0) return 0;
    // Mirror all 32 bits by swapping ever smaller halves, then keep the low n.
    value = ((value >> 1) & 0x55555555u) | ((value & 0x55555555u) << 1);
    value = ((value >> 2) & 0x33333333u) | ((value & 0x33333333u) << 2);
    value = ((value >> 4) & 0x0F0F0F0Fu) | ((value & 0x0F0F0F0Fu) << 4);
    value = ((value >> 8) & 0x00FF00FFu) | ((value & 0x00FF00FFu) << 8);
    value = (value >> 16) | (value << 16);
    return n >= 32 ? value : value >> (32 - n);
}

// An entry's checksum starts with every entry of a run: the table is shared, not built each time.
Crc32::Crc32() : table(kSlices.t[0]), reg(0xFFFFFFFF) {}

uint32_t Crc32::Update(const void* data, uint32_t length) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    if (length < SHORT_INPUT) {
        reg = Crc32UpdateBytes(table, reg, bytes, length);
#if VORN_CRC_CLMUL
    } else if (length >= FOLD_MINIMUM && Crc32HasCarrylessMultiply()) {
        reg = Crc32HasWideCarrylessMultiply() ? Crc32UpdateFoldedWide(reg, bytes, length)
                                              : Crc32UpdateFolded(reg, bytes, length);
#endif
    } else {
        reg = Crc32UpdateSliced(reg, bytes, length);
    }
    return ~reg;
}

uint32_t Crc32UpdateBytes(const uint32_t table[256], uint32_t reg, const unsigned char* data,
                          size_t length) {
    for (size_t i = 0; i < length; ++i) reg = table[(reg ^ data[i]) & 0xFF] ^ (reg >> 8);
    return reg;
}

uint32_t Crc32UpdateSliced(uint32_t reg, const unsigned char* data, size_t length) {
    const auto& t = kSlices.t;
    while (length >= 8) {
        uint32_t lo = LoadLe32(data) ^ reg;
        uint32_t hi = LoadLe32(data + 4);
        reg = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        data += 8;
        length -= 8;
    }
    return Crc32UpdateBytes(t[0], reg, data, length);
}

#if VORN_CRC_CLMUL

namespace {

// x^n mod P(x) in plain bit order (bit 31 is x^31).
constexpr uint32_t XPowerModP(int n) {
    uint32_t r = 1;
    for (int i = 0; i < n; ++i) {
        bool carry = (r & 0x80000000u) != 0;
        r <<= 1;
        if (carry) r ^= CRC_POLYNOMIAL;
    }
    return r;
}

// In the reflected domain a 16-byte lane A stands for A_hi * x^64 + A_lo, A_hi being its first
// eight bytes (the low quadword). Carrying A forward by d bits to the lane it is folded into means
// multiplying by x^d, which modulo P is A_hi * (x^(d+64) mod P) + A_lo * (x^d mod P): two 64 x 33
// bit carry-less products that fit in one lane. A reflected product of 64- and 33-bit operands
// lands one bit lower than the lane's own frame, which the constants absorb by being x^(d+32) and
// x^(d-32) reflected into 33 bits.
constexpr uint64_t FoldConstant(int n) {
    return uint64_t(ReflectConst(XPowerModP(n), 32)) << 1;
}

constexpr uint64_t FOLD_LANES_LOW = FoldConstant(FOLD_LANES * 128 + 32);
constexpr uint64_t FOLD_LANES_HIGH = FoldConstant(FOLD_LANES * 128 - 32);
constexpr uint64_t FOLD1_LOW = FoldConstant(128 + 32);
constexpr uint64_t FOLD1_HIGH = FoldConstant(128 - 32);

int DetectCarrylessMultiply() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
    return (ecx & bit_PCLMUL) && (edx & bit_SSE2) ? 1 : 0;
}

#if defined(__i386__)
// 32-bit Windows only promises a 4-byte aligned stack; spilled vectors need 16.
#define VORN_CLMUL_TARGET __attribute__((target("sse2,pclmul"), force_align_arg_pointer))
#else
#define VORN_CLMUL_TARGET __attribute__((target("sse2,pclmul")))
#endif

VORN_CLMUL_TARGET inline __m128i Fold(__m128i lane, __m128i constants) {
    return _mm_xor_si128(_mm_clmulepi64_si128(lane, constants, 0x00),
                         _mm_clmulepi64_si128(lane, constants, 0x11));
}

VORN_CLMUL_TARGET inline __m128i Load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds the lanes into one, then the remaining whole lanes of input into it, and ends with the
// tables.
VORN_CLMUL_TARGET uint32_t FinishLanes(const __m128i* x, int lanes, const unsigned char* data,
                                       size_t length) {
    const __m128i foldOne = _mm_set_epi64x(int64_t(FOLD1_HIGH), int64_t(FOLD1_LOW));
    __m128i folded = x[0];
    for (int i = 1; i < lanes; ++i) folded = _mm_xor_si128(Fold(folded, foldOne), x[i]);
    while (length >= 16) {
        folded = _mm_xor_si128(Fold(folded, foldOne), Load(data));
        data += 16;
        length -= 16;
    }

    // The remaining lane is congruent to everything fed so far, so running it through the tables
    // from a zero register finishes the reduction; the tail bytes follow it.
    unsigned char lane[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lane), folded);
    uint32_t reg = Crc32UpdateSliced(0, lane, sizeof lane);
    return Crc32UpdateSliced(reg, data, length);
}

}  // namespace

bool Crc32HasCarrylessMultiply() {
    // Plain atomics rather than a guarded static: several threads may race to the first answer,
    // and they all store the same one.
    static int cached = -1;
    int known = __atomic_load_n(&cached, __ATOMIC_RELAXED);
    if (known < 0) {
        known = DetectCarrylessMultiply();
        __atomic_store_n(&cached, known, __ATOMIC_RELAXED);
    }
    return known != 0;
}

VORN_CLMUL_TARGET uint32_t Crc32UpdateFolded(uint32_t reg, const unsigned char* data,
                                             size_t length) {
    if (length < FOLD_MINIMUM) return Crc32UpdateSliced(reg, data, length);

    // The register enters as an exclusive-or over the first four bytes.
    __m128i x[FOLD_LANES];
#pragma GCC unroll 8
    for (int i = 0; i < FOLD_LANES; ++i) x[i] = Load(data + 16 * i);
    x[0] = _mm_xor_si128(x[0], _mm_cvtsi32_si128(int(reg)));
    data += FOLD_MINIMUM;
    length -= FOLD_MINIMUM;

    // Independent lanes hide the multiplier's latency.
    const __m128i foldLanes = _mm_set_epi64x(int64_t(FOLD_LANES_HIGH), int64_t(FOLD_LANES_LOW));
    while (length >= FOLD_MINIMUM) {
#pragma GCC unroll 8
        for (int i = 0; i < FOLD_LANES; ++i) {
            x[i] = _mm_xor_si128(Fold(x[i], foldLanes), Load(data + 16 * i));
        }
        data += FOLD_MINIMUM;
        length -= FOLD_MINIMUM;
    }

    return FinishLanes(x, FOLD_LANES, data, length);
}

#if VORN_CRC_WIDE

namespace {

// 256-bit registers, each two 16-byte lanes, folded by VPCLMULQDQ two lanes at a time.
constexpr int WIDE_VECTORS = 4;
constexpr size_t WIDE_STEP = 32 * WIDE_VECTORS;
constexpr uint64_t WIDE_LOW = FoldConstant(int(WIDE_STEP) * 8 + 32);
constexpr uint64_t WIDE_HIGH = FoldConstant(int(WIDE_STEP) * 8 - 32);

int DetectWideCarrylessMultiply() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
    if (!(ecx & bit_OSXSAVE) || !(ecx & bit_AVX) || !(ecx & bit_PCLMUL)) return 0;
    // The operating system must save the upper halves of the vector registers.
    unsigned xcrLow = 0, xcrHigh = 0;
    __asm__("xgetbv" : "=a"(xcrLow), "=d"(xcrHigh) : "c"(0));
    if ((xcrLow & 6) != 6) return 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return 0;
    return (ebx & bit_AVX2) && (ecx & bit_VPCLMULQDQ) ? 1 : 0;
}

#define VORN_WIDE_TARGET __attribute__((target("avx2,pclmul,vpclmulqdq")))

VORN_WIDE_TARGET inline __m256i LoadWide(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

}  // namespace

bool Crc32HasWideCarrylessMultiply() {
    static int cached = -1;
    int known = __atomic_load_n(&cached, __ATOMIC_RELAXED);
    if (known < 0) {
        known = DetectWideCarrylessMultiply();
        __atomic_store_n(&cached, known, __ATOMIC_RELAXED);
    }
    return known != 0;
}

VORN_WIDE_TARGET uint32_t Crc32UpdateFoldedWide(uint32_t reg, const unsigned char* data,
                                                size_t length) {
    if (length < WIDE_STEP) return Crc32UpdateFolded(reg, data, length);

    __m256i y[WIDE_VECTORS];
#pragma GCC unroll 8
    for (int i = 0; i < WIDE_VECTORS; ++i) y[i] = LoadWide(data + 32 * i);
    y[0] = _mm256_xor_si256(y[0], _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, int(reg)));
    data += WIDE_STEP;
    length -= WIDE_STEP;

    const __m256i k = _mm256_set_epi64x(int64_t(WIDE_HIGH), int64_t(WIDE_LOW), int64_t(WIDE_HIGH),
                                        int64_t(WIDE_LOW));
    while (length >= WIDE_STEP) {
#pragma GCC unroll 8
        for (int i = 0; i < WIDE_VECTORS; ++i) {
            __m256i product = _mm256_xor_si256(_mm256_clmulepi64_epi128(y[i], k, 0x00),
                                               _mm256_clmulepi64_epi128(y[i], k, 0x11));
            y[i] = _mm256_xor_si256(product, LoadWide(data + 32 * i));
        }
        data += WIDE_STEP;
        length -= WIDE_STEP;
    }

    // Back to 16-byte lanes in input order for the common ending.
    __m128i x[2 * WIDE_VECTORS];
#pragma GCC unroll 8
    for (int i = 0; i < WIDE_VECTORS; ++i) {
        x[2 * i] = _mm256_castsi256_si128(y[i]);
        x[2 * i + 1] = _mm256_extracti128_si256(y[i], 1);
    }
    return FinishLanes(x, 2 * WIDE_VECTORS, data, length);
}

#else

bool Crc32HasWideCarrylessMultiply() {
    return false;
}

uint32_t Crc32UpdateFoldedWide(uint32_t reg, const unsigned char* data, size_t length) {
    return Crc32UpdateFolded(reg, data, length);
}

#endif

#else

bool Crc32HasCarrylessMultiply() {
    return false;
}

uint32_t Crc32UpdateFolded(uint32_t reg, const unsigned char* data, size_t length) {
    return Crc32UpdateSliced(reg, data, length);
}

bool Crc32HasWideCarrylessMultiply() {
    return false;
}

uint32_t Crc32UpdateFoldedWide(uint32_t reg, const unsigned char* data, size_t length) {
    return Crc32UpdateSliced(reg, data, length);
}

#endif
