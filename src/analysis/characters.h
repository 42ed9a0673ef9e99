#pragma once

// Byte classes of script text, and how many bytes a character takes in each
// encoding: the analysis steps over characters, so that no trail byte of a
// double-byte character is ever read as an ASCII code.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "input/source_file.h"
#include "nscr/byte_lanes.h"

namespace analysis {

inline bool isBlankByte(char c) { return c == ' ' || c == '\t'; }
inline bool isDigitByte(char c) { return c >= '0' && c <= '9'; }
inline bool isHexByte(char c) { return isDigitByte(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
inline bool isLetterByte(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool isWordHead(char c) { return isLetterByte(c) || c == '_'; }
inline bool isWordByte(char c) { return isWordHead(c) || isDigitByte(c); }
inline bool isAsciiByte(char c) { return static_cast<unsigned char>(c) < 0x80; }

inline char lowerByte(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A name as the engine compares it: ASCII letters in lower case.
inline std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = lowerByte(c);
    return lower;
}

// A hash of a name as the engine compares it: the same for "Start" and
// "start".
inline std::uint32_t nameHash(std::string_view name) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (char c : name) hash = (hash ^ static_cast<unsigned char>(lowerByte(c))) * 0x100000001b3u;
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

// Whether two names are one to the engine.
inline bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k)
        if (lowerByte(a[k]) != lowerByte(b[k])) return false;
    return true;
}

// The bytes the character at text[at] takes (at least one, never past the end).
inline std::size_t characterSize(std::string_view text, std::size_t at, input::Encoding encoding) {
    auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return 1;
    std::size_t size = 1;
    switch (encoding) {
        case input::Encoding::CP932:
            size = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
            break;
        case input::Encoding::GBK:
            size = lead >= 0x81 && lead <= 0xFE ? 2 : 1;
            break;
        case input::Encoding::UTF8: {
            // Only the continuation bytes that follow belong to the lead.
            std::size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            while (size < want && at + size < text.size() &&
                   (static_cast<unsigned char>(text[at + size]) & 0xC0) == 0x80)
                ++size;
            return size;
        }
    }
    return at + size <= text.size() ? size : text.size() - at;
}

// How many of the sixteen bytes at p, which starts a character, are plain
// text to step over at once: whole double-byte characters (whose lead
// bytes are never ASCII), or ASCII bytes that start no text code. With
// AliasesOnly, the codes that may hold an alias's name or stand for one;
// the others ("@", "!w100", "#ffffff"...) hold neither and are plain.
template <bool AliasesOnly = false>
std::size_t plainTextRun(const char* p, input::Encoding encoding) {
    using nscr::ByteLanes;
    ByteLanes v = nscr::loadLanes(p);
    if (p[0] >= 0) {
        ByteLanes code = (v == '%') | (v == '$') | (v == '?') | (v == '(') | (v == '<') | (v == '[') | (v == '~');
        if constexpr (!AliasesOnly) code |= (v == '@') | (v == '\\') | (v == '/') | (v == '!') | (v == '#');
        return nscr::leadingTrueLanes(static_cast<ByteLanes>((v < 0x80) & ~code));
    }
    static constexpr ByteLanes evenLanes = {0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0};
    if (encoding == input::Encoding::UTF8) return nscr::leadingTrueLanes(static_cast<ByteLanes>(v >= 0x80));
    ByteLanes lead = encoding == input::Encoding::GBK ? nscr::lanesInRange(v, 0x81, 0xFE)
                                                      : nscr::lanesInRange(v, 0x81, 0x9F) | nscr::lanesInRange(v, 0xE0, 0xFC);
    // Lead bytes at the even places; a trail byte is stepped over whatever it is.
    return nscr::leadingTrueLanes(lead | ~evenLanes) & ~std::size_t{1};
}

// The first byte c at or after `from` that starts a character (a trail byte
// that happens to be c does not count), or npos.
inline std::size_t findCharacter(std::string_view text, std::size_t from, char c, input::Encoding encoding) {
    for (std::size_t at = from; at < text.size(); at += characterSize(text, at, encoding))
        if (text[at] == c) return at;
    return std::string_view::npos;
}

// The end of the name that starts at text[at] ([A-Za-z0-9_]*).
inline std::size_t wordEnd(std::string_view text, std::size_t at) {
    while (at < text.size() && isWordByte(text[at])) ++at;
    return at;
}

inline std::size_t skipBlanks(std::string_view text, std::size_t at) {
    while (at < text.size() && isBlankByte(text[at])) ++at;
    return at;
}

}  // namespace analysis
