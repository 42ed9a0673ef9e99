#pragma once

// Sixteen bytes looked at together, each lane 0xFF (true) or 0 (false):
// the compiler's vector types, which become the processor's vector
// instructions where it has them and plain code where it has not.

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nscr {

using ByteLanes = unsigned char __attribute__((vector_size(16)));

inline ByteLanes loadLanes(const char* bytes) {
    ByteLanes lanes;
    std::memcpy(&lanes, bytes, 16);
    return lanes;
}

// One add and one signed compare: the range moved to start at -128.
inline ByteLanes lanesInRange(ByteLanes v, unsigned char low, unsigned char high) {
    using SignedLanes = signed char __attribute__((vector_size(16)));
    if (high < low) return ByteLanes{};
    if (high - low == 255) return ~ByteLanes{};
    auto moved = reinterpret_cast<SignedLanes>(v + static_cast<unsigned char>(0x80 - low));
    auto bound = static_cast<signed char>(high - low - 127);
    return reinterpret_cast<ByteLanes>(moved < bound);
}

// The lanes before the first false one: 16 when all are true.
inline std::size_t leadingTrueLanes(ByteLanes lanes) {
    std::uint64_t halves[2];
    std::memcpy(halves, &lanes, 16);
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "lane k is byte k of the halves, low byte first");
    if (~halves[0] != 0) return static_cast<std::size_t>(__builtin_ctzll(~halves[0])) / 8;
    if (~halves[1] != 0) return 8 + static_cast<std::size_t>(__builtin_ctzll(~halves[1])) / 8;
    return 16;
}

// One bit a lane, lane k at bit k: set where the lane's top bit is.
inline std::uint32_t laneBits(ByteLanes lanes) {
#if defined(__SSE2__)
    __m128i v;
    std::memcpy(&v, &lanes, 16);
    return static_cast<std::uint32_t>(_mm_movemask_epi8(v));
#else
    std::uint32_t bits = 0;
    for (unsigned k = 0; k < 16; ++k) bits |= static_cast<std::uint32_t>(lanes[k] >> 7) << k;
    return bits;
#endif
}

inline bool anyLane(ByteLanes lanes) {
    std::uint64_t halves[2];
    std::memcpy(halves, &lanes, 16);
    return (halves[0] | halves[1]) != 0;
}

}  // namespace nscr
