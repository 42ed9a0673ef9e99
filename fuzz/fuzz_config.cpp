// The two configuration loaders on arbitrary bytes. An even first byte feeds
// the rest to the command file loader, an odd one to the colour file loader.
// Each result is compared with a plain reading of the same text, and the
// tables are reset before every run. No colour accepted may hold a byte that
// could close the style attribute or rule it is copied into.

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "nscr/error.h"
#include "nscr/token.h"
#include "nscr/webhighlight.h"

namespace {

constexpr std::string_view badCommandsMessage = "bad format the description of reserved commands";

std::vector<std::string_view> cutLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        if (end == text.size()) break;
        if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
        start = end + 1;
    }
    return lines;
}

std::vector<std::string_view> splitAt(std::string_view line, char separator) {
    std::vector<std::string_view> parts;
    if (line.empty()) return parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = line.find(separator, start);
        if (end == std::string_view::npos) break;
        parts.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    parts.push_back(line.substr(start));
    return parts;
}

void checkCommands(std::string_view content) {
    // What the file should give: entries up to the first malformed line.
    std::map<std::string, nscr::TokenType, std::less<>> expected;
    bool malformed = false;
    for (std::string_view line : cutLines(content)) {
        std::vector<std::string_view> fields = splitAt(line, ',');
        if (fields.empty() || fields.size() > 2) {
            malformed = true;
            break;
        }
        nscr::TokenType type = nscr::TokenType::COMMON_COMMAND;
        if (fields.size() == 2 && fields[1] == "F") type = nscr::TokenType::DEFINE_COMMAND;
        if (fields.size() == 2 && fields[1] == "E") type = nscr::TokenType::EXECUTE_COMMAND;
        expected.insert_or_assign(std::string(fields[0]), type);
    }

    bool failed = false;
    try {
        nscr::loadReservedCommandsFromText(content);
    } catch (const nscr::Error& error) {
        fuzz::require(error.what() == badCommandsMessage, "unexpected command file message", error.what());
        failed = true;
    } catch (...) {
        fuzz::fail("command file loader raised something other than nscr::Error");
    }
    fuzz::require(failed == malformed, failed ? "well-formed command file rejected" : "malformed command file accepted");
    fuzz::require(nscr::reservedCommands.size() == expected.size(), "command table has the wrong size");
    for (const auto& [name, type] : expected) {
        auto found = nscr::reservedCommands.find(name);
        fuzz::require(found != nscr::reservedCommands.end(), "command missing from the table", name);
        fuzz::require(found->second == type, "command has the wrong type", name);
    }
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view whiteSpace = "\t\n\v\f\r ";
    std::size_t first = text.find_first_not_of(whiteSpace);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(whiteSpace) - first + 1);
}

// A byte a colour may hold: of ASCII only letters, digits, blanks and
// "#(),.%", so that nothing can end a style attribute or a CSS rule or open
// a comment; bytes of 0x80 and above are left to the page's encoding.
bool isColourByte(unsigned char c) {
    constexpr std::string_view marks = "#(),.% ";
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c >= 0x80 ||
           marks.find(static_cast<char>(c)) != std::string_view::npos;
}

bool isSafeColour(std::string_view value) {
    for (char c : value)
        if (!isColourByte(static_cast<unsigned char>(c))) return false;
    return true;
}

void checkColors(std::string_view content) {
    nscr::FontTable expected = nscr::fontInfos;
    for (std::string_view line : cutLines(content)) {
        std::vector<std::string_view> parts = splitAt(line, '=');
        if (parts.size() < 2) continue;
        std::string_view key = trimmed(parts[0]);
        std::string_view value = trimmed(parts[1]);
        // A value that could add markup names no colour.
        if (!isSafeColour(value)) continue;
        for (int i = 0; i < nscr::tokenTypeCount; ++i)
            if (nscr::tokenTypeName(static_cast<nscr::TokenType>(i)) == key)
                expected[static_cast<std::size_t>(i)].color = std::string(value);
    }

    try {
        nscr::applyColorText(content);
    } catch (const std::exception& error) {
        fuzz::fail("colour file loader raised an error", error.what());
    } catch (...) {
        fuzz::fail("colour file loader raised something");
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const nscr::WebFontInfo& got = nscr::fontInfos[i];
        fuzz::require(got.name == expected[i].name && got.fontWeight == expected[i].fontWeight,
                      "colour file changed a name or a weight", got.name);
        fuzz::require(got.color == expected[i].color, "colour differs from the file's", got.name);
        fuzz::require(isSafeColour(got.color), "colour accepted that could add markup", got.color);
    }

    // Whatever the colours hold, the prepared span openings must write the
    // same bytes as the per-token formatters.
    nscr::SpanFormat styled = nscr::SpanFormat::styled();
    nscr::SpanFormat classed = nscr::SpanFormat::classed();
    constexpr std::string_view sample = "a<b>&\"c\"";
    for (int i = 0; i < nscr::tokenTypeCount; ++i) {
        auto type = static_cast<nscr::TokenType>(i);
        std::string fast;
        styled.append(fast, type, sample);
        fuzz::require(fast == nscr::formatStyled(type, sample), "styled span differs from formatStyled",
                      nscr::tokenTypeName(type));
        fast.clear();
        classed.append(fast, type, sample);
        fuzz::require(fast == nscr::formatClassed(type, sample), "class span differs from formatClassed",
                      nscr::tokenTypeName(type));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    nscr::reservedCommands.clear();
    nscr::initWebHighlight();
    std::string_view content = fuzz::asText(data + 1, size - 1);
    if (data[0] % 2 == 0)
        checkCommands(content);
    else
        checkColors(content);
    return 0;
}
