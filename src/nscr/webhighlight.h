#pragma once

#include <array>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nscr/token.h"

namespace nscr {

struct WebFontInfo {
    std::string color = "#000000";
    std::string fontWeight = "normal";
    std::string name;
};

using FontTable = std::array<WebFontInfo, tokenTypeCount>;

// The run's font table, indexed by TokenType: the defaults, then the colours
// of "color.txt".
extern FontTable fontInfos;

// Puts the font table back to its defaults (it starts that way).
void initWebHighlight();
// The built-in colour of a type, before "color.txt"; empty outside 0..25.
std::string_view defaultColor(TokenType type);
std::optional<TokenType> typeByName(std::string_view name);
// A line of a colour file that was skipped, counted from 1, and why.
struct ColorWarning {
    std::size_t line;
    std::string message;
};
// Why the pages cannot take a colour value (their encoding cannot hold it);
// none when they can.
using ColorValueCheck = std::function<std::optional<std::string>(std::string_view value)>;
// Overwrites colours from the text of a colour file (raw bytes). A colour
// holding an ASCII character other than letters, digits, blanks and
// # ( ) , . %, or one that pageRefuses, is skipped with a warning.
std::vector<ColorWarning> applyColorText(std::string_view content, const ColorValueCheck& pageRefuses = {});
// Reads "color.txt" at path when anything exists there.
std::vector<ColorWarning> loadColorFile(const std::string& path, const ColorValueCheck& pageRefuses = {});

// ---- Span writer ----------------------------------------------------------

// Tokens of these types may hold "<", ">", "&" or '"' among other text.
constexpr bool needsEscape(TokenType type) {
    switch (type) {
        case TokenType::COMMENT:
        case TokenType::LITERAL:
        case TokenType::OPERATOR:
        case TokenType::RUBY:
        case TokenType::TAG:
        case TokenType::TEXT_BUTTON: return true;
        default: return false;
    }
}
std::string escapeText(std::string_view text, TokenType type);
std::string styleAttribute(TokenType type);
std::string wrapStyleSpan(std::string_view text, std::string_view style);
std::string wrapClassSpan(std::string_view text, TokenType type);
std::string cssRule(std::string_view selector, const std::vector<std::string>& declarations);
std::string styleSheet();

std::string formatStyled(TokenType type, std::string_view text);
std::string formatClassed(TokenType type, std::string_view text);

// Appends text escaped as escapeText does.
void appendEscaped(std::string& out, std::string_view text, TokenType type);
// Writes text escaped as escapeText does at out and returns its end; it
// takes at most escapeRoom(text.size()) bytes.
char* escapeTo(char* out, std::string_view text, TokenType type);
constexpr std::size_t escapeRoom(std::size_t textSize) { return textSize * 6; }

// A token of one byte, escaped as escapeTo escapes it: one fixed-size copy
// from a table of every byte's text.
struct EscapedByte {
    char text[8];
    std::size_t size;
};
inline constexpr std::array<EscapedByte, 256> escapedByteTexts = [] {
    std::array<EscapedByte, 256> table{};
    for (std::size_t c = 0; c < table.size(); ++c) table[c] = {{static_cast<char>(c)}, 1};
    table['<'] = {{'&', 'l', 't', ';'}, 4};
    table['>'] = {{'&', 'g', 't', ';'}, 4};
    table['&'] = {{'&', 'a', 'm', 'p', ';'}, 5};
    table['"'] = {{'&', 'q', 'u', 'o', 't', ';'}, 6};
    return table;
}();
inline char* writeEscapedByte(char* out, char c) {
    const EscapedByte& escaped = escapedByteTexts[static_cast<unsigned char>(c)];
    std::memcpy(out, escaped.text, sizeof escaped.text);
    return out + escaped.size;
}

// The span openings and closings of one mode, computed once from the font
// table, so that a page can be written without building strings per token.
// append() gives the same bytes as formatStyled or formatClassed.
class SpanFormat {
public:
    static SpanFormat styled();
    static SpanFormat classed();
    // Any other markup: an opening and a closing per type (empty: no span).
    static SpanFormat of(const std::array<std::string, tokenTypeCount>& openings,
                         const std::array<std::string, tokenTypeCount>& closings);

    std::string_view opening(TokenType type) const { return openings_[static_cast<std::size_t>(type)]; }
    std::string_view closing(TokenType type) const { return closings_[static_cast<std::size_t>(type)]; }
    static constexpr std::string_view spanClosing = "</span>";
    void append(std::string& out, TokenType type, std::string_view text) const;
    // Puts another text in place of a type's opening (a page in another
    // encoding than the font table's).
    void replaceOpening(TokenType type, std::string text);

    // Writers for a page with room to spare: each copies a block of fixed
    // size, which is cheaper than a copy of the exact size, and returns the
    // end of what it meant to write. markupRoom() is what an opening and a
    // closing may take together.
    char* writeOpening(char* out, TokenType type) const {
        auto index = static_cast<std::size_t>(type);
        std::size_t size = sizes_[index];
        // Colours from "color.txt" may make an opening longer than a block.
        if (size > blockSize) return writeLongOpening(out, index);
        std::memcpy(out, blocks_[index].data(), blockSize);
        return out + size;
    }
    // The same for an opening known to fit its block.
    char* writeBlockOpening(char* out, TokenType type) const {
        auto index = static_cast<std::size_t>(type);
        std::memcpy(out, blocks_[index].data(), blockSize);
        return out + sizes_[index];
    }
    char* writeClosing(char* out, TokenType type) const {
        auto index = static_cast<std::size_t>(type);
        std::memcpy(out, closingBlocks_[index].data(), closingBlockSize);
        return out + closingSizes_[index];
    }
    // Whether the opening of the type is too long for a block.
    bool hasLongOpening(TokenType type) const { return sizes_[static_cast<std::size_t>(type)] > blockSize; }
    std::size_t markupRoom() const;

private:
    static constexpr std::size_t blockSize = 64;
    static constexpr std::size_t closingBlockSize = 8;
    void fillBlocks();
    char* writeLongOpening(char* out, std::size_t index) const;

    std::array<std::string, tokenTypeCount> openings_;
    std::array<std::string, tokenTypeCount> closings_;
    std::array<std::array<char, blockSize>, tokenTypeCount> blocks_{};
    std::array<std::size_t, tokenTypeCount> sizes_{};  // of the openings
    std::array<std::array<char, closingBlockSize>, tokenTypeCount> closingBlocks_{};
    std::array<std::size_t, tokenTypeCount> closingSizes_{};
};

}  // namespace nscr
