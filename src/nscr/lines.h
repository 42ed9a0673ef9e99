#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace nscr {

// Calls visit(line) for every line of text. A line ends at CR, LF or CR LF;
// the terminator is not part of the line, and a terminator at the very end
// does not start another line.
template <typename Visitor>
void forEachLine(std::string_view text, Visitor&& visit) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        const char* q = p;
        while (q != end && *q != '\r' && *q != '\n') ++q;
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
