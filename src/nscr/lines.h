#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nscr {

// Bytes equal to zero in a word read from memory: the lowest set bit of
// the mask marks the first one (bits above it may be false alarms).
inline std::uint64_t zeroByteMask(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    return (word - ones) & ~word & highs;
}

// The first CR or LF in [p, end), or end. Lines are scanned sixteen bytes
// at a time where the processor has SSE2, eight bytes at a time otherwise
// (a byte is CR where the word XOR CR bytes is zero).
inline const char* findLineEnd(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    while (end - p >= 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        int found = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)));
        if (found != 0) return p + std::countr_zero(static_cast<unsigned>(found));
        p += 16;
    }
#endif
    constexpr std::uint64_t ones = 0x0101010101010101u;
    if constexpr (std::endian::native == std::endian::little) {
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            std::uint64_t found = zeroByteMask(word ^ (ones * '\r')) | zeroByteMask(word ^ (ones * '\n'));
            if (found != 0) return p + std::countr_zero(found) / 8;
            p += 8;
        }
    }
    while (p != end && *p != '\r' && *p != '\n') ++p;
    return p;
}

// The first CR, LF or zero byte in [p, end), or end: where a line, or the
// part of it that counts, ends.
inline const char* findLineEndOrZero(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)),
                                     _mm_cmpeq_epi8(bytes, zero));
        int found = _mm_movemask_epi8(stops);
        if (found != 0) return p + std::countr_zero(static_cast<unsigned>(found));
        p += 16;
    }
#endif
    while (p != end && *p != '\r' && *p != '\n' && *p != '\0') ++p;
    return p;
}

// Calls visit(line) for every line of text. A line ends at CR, LF or CR LF;
// the terminator is not part of the line, and a terminator at the very end
// does not start another line.
template <typename Visitor>
void forEachLine(std::string_view text, Visitor&& visit) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        const char* q = findLineEnd(p, end);
        visit(std::string_view(p, static_cast<std::size_t>(q - p)));
        if (q == end) return;
        if (*q == '\r' && q + 1 != end && q[1] == '\n') ++q;
        p = q + 1;
    }
}

// The number of lines forEachLine visits in text: its line ends (LF, CR
// LF, or a CR alone), and one more when the text does not end with one.
// Sixteen bytes at a time where the processor has SSE2: a byte counts when
// it is LF, or CR without LF after it.
inline std::size_t countLines(std::string_view text) {
    if (text.empty()) return 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    std::size_t ends = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    // Each block adds one to a byte's counter (cmpeq gives -1): 255 blocks
    // at most before the counters are summed.
    while (end - p > 16) {
        __m128i counters = zero;
        for (int block = 0; block < 255 && end - p > 16; ++block, p += 16) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
            __m128i loneCr = _mm_andnot_si128(_mm_cmpeq_epi8(next, lf), _mm_cmpeq_epi8(bytes, cr));
            counters = _mm_sub_epi8(counters, _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), loneCr));
        }
        __m128i sums = _mm_sad_epu8(counters, zero);
        ends += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
#endif
    for (; p != end; ++p)
        ends += *p == '\n' || (*p == '\r' && (p + 1 == end || p[1] != '\n')) ? 1 : 0;
    char lastByte = text.back();
    return ends + (lastByte == '\n' || lastByte == '\r' ? 0 : 1);
}

inline std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    forEachLine(text, [&](std::string_view line) { lines.push_back(line); });
    return lines;
}

}  // namespace nscr
