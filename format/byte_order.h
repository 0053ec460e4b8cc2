// Every integer of the format is little-endian. These are the one family of loads and stores that
// reader, writer and codec share; on a little-endian host each compiles to a single move.
#pragma once

#include <cstdint>
#include <cstring>

namespace format {

namespace detail {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
inline uint16_t ToLittle(uint16_t v) {
    return __builtin_bswap16(v);
}
inline uint32_t ToLittle(uint32_t v) {
    return __builtin_bswap32(v);
}
inline uint64_t ToLittle(uint64_t v) {
    return __builtin_bswap64(v);
}
#else
inline uint16_t ToLittle(uint16_t v) {
    return v;
}
inline uint32_t ToLittle(uint32_t v) {
    return v;
}
inline uint64_t ToLittle(uint64_t v) {
    return v;
}
#endif

template <typename T>
inline T Load(const uint8_t* p) {
    T v;
    memcpy(&v, p, sizeof v);
    return ToLittle(v);
}

template <typename T>
inline void Store(uint8_t* p, T v) {
    v = ToLittle(v);
    memcpy(p, &v, sizeof v);
}
}  // namespace detail

inline uint16_t LoadLE16(const uint8_t* p) {
    return detail::Load<uint16_t>(p);
}
inline uint32_t LoadLE32(const uint8_t* p) {
    return detail::Load<uint32_t>(p);
}
inline uint64_t LoadLE64(const uint8_t* p) {
    return detail::Load<uint64_t>(p);
}
inline void StoreLE16(uint8_t* p, uint16_t v) {
    detail::Store(p, v);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
    detail::Store(p, v);
}
inline void StoreLE64(uint8_t* p, uint64_t v) {
    detail::Store(p, v);
}

}  // namespace format
