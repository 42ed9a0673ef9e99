#pragma once

#include <array>
#include <cstring>
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
std::optional<TokenType> typeByName(std::string_view name);
// Overwrites colours from the text of a colour file (raw bytes).
void applyColorText(std::string_view content);
// Reads "color.txt" at path when anything exists there.
void loadColorFile(const std::string& path);

// ---- Span writer ----------------------------------------------------------

bool needsEscape(TokenType type);
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

// The span openings of one mode, computed once from the font table, so that
// a page can be written without building strings per token. append() gives
// the same bytes as formatStyled or formatClassed.
class SpanFormat {
public:
    static SpanFormat styled();
    static SpanFormat classed();

    std::string_view opening(TokenType type) const { return openings_[static_cast<std::size_t>(type)]; }
    static constexpr std::string_view closing = "</span>";
    void append(std::string& out, TokenType type, std::string_view text) const;

    // Writers for a page with room to spare: each copies a block of fixed
    // size, which is cheaper than a copy of the exact size, and returns the
    // end of what it meant to write. markupRoom() is what an opening and a
    // closing may take together.
    char* writeOpening(char* out, TokenType type) const {
        auto index = static_cast<std::size_t>(type);
        std::size_t size = openings_[index].size();
        // Colours from "color.txt" may make an opening longer than a block.
        if (size > blockSize) return writeLongOpening(out, index);
        std::memcpy(out, blocks_[index].data(), blockSize);
        return out + size;
    }
    static char* writeClosing(char* out) {
        std::memcpy(out, "</span>", 8);
        return out + closing.size();
    }
    std::size_t markupRoom() const;

private:
    static constexpr std::size_t blockSize = 64;
    void fillBlocks();
    char* writeLongOpening(char* out, std::size_t index) const;

    std::array<std::string, tokenTypeCount> openings_;
    std::array<std::array<char, blockSize>, tokenTypeCount> blocks_{};
};

}  // namespace nscr
