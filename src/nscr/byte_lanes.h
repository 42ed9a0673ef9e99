#pragma once

// Sixteen bytes looked at together, each lane 0xFF (true) or 0 (false):
// the compiler's vector types, which become the processor's vector
// instructions where it has them and plain code where it has not.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace nscr {

using ByteLanes = unsigned char __attribute__((vector_size(16)));

inline ByteLanes loadLanes(const char* bytes) {
    ByteLanes lanes;
    std::memcpy(&lanes, bytes, 16);
    return lanes;
}

inline ByteLanes lanesInRange(ByteLanes v, unsigned char low, unsigned char high) {
    return static_cast<ByteLanes>((v >= low) & (v <= high));
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

inline bool anyLane(ByteLanes lanes) {
    std::uint64_t halves[2];
    std::memcpy(halves, &lanes, 16);
    return (halves[0] | halves[1]) != 0;
}

}  // namespace nscr
