#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace nscr {

// The first CR or LF in [p, end), or end. Lines are scanned eight bytes at a
// time: a word holds a CR or LF when one of its bytes XOR that byte is zero.
inline const char* findLineEnd(const char* p, const char* end) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    auto hasZeroByte = [](std::uint64_t w) { return ((w - ones) & ~w & highs) != 0; };
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if (hasZeroByte(word ^ (ones * '\r')) || hasZeroByte(word ^ (ones * '\n'))) break;
        p += 8;
    }
    while (p != end && *p != '\r' && *p != '\n') ++p;
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

inline std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    forEachLine(text, [&](std::string_view line) { lines.push_back(line); });
    return lines;
}

}  // namespace nscr
