#include "html5.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "nscr/byte_lanes.h"
#include "nscr/webhighlight.h"

namespace html5 {

namespace {

using nscr::TokenType;
constexpr std::size_t typeCount = nscr::tokenTypeCount;

constexpr std::array<std::string_view, typeCount> classNames = {
    "s",   // STRING
    "w",   // SPACE
    "c",   // COMMENT
    "lt",  // LITERAL
    "sl",  // SPECIAL_LABEL
    "tl",  // LINETOP_LABEL
    "gl",  // GENERIC_LABEL
    "nv",  // NUMBER_VARIABLE
    "sv",  // STRING_VARIABLE
    "av",  // ARRAY_VARIABLE
    "dc",  // DEFINE_COMMAND
    "ec",  // EXECUTE_COMMAND
    "cc",  // COMMON_COMMAND
    "co",  // COLOR
    "nu",  // NUMBER
    "sy",  // SYMBOL
    "sc",  // SPECIAL_CHARACTER
    "op",  // OPERATOR
    "ru",  // RUBY
    "tg",  // TAG
    "tb",  // TEXT_BUTTON
    "pb",  // PARENTHESIS_BEGIN
    "pe",  // PARENTHESIS_END
    "bb",  // BRACKET_BEGIN
    "be",  // BRACKET_END
    "as",  // ASCII
};

// The colours of one scheme. Every text colour is at least 4.5:1 against
// both the background and the highlight of a targeted line.
struct Scheme {
    std::string_view background;
    std::string_view text;
    std::string_view muted;   // line numbers
    std::string_view link;    // the label index
    std::string_view target;  // background of the targeted line
    std::array<std::string_view, typeCount> tokens;
};

// Close in hue to the built-in colours, darkened where those are too light.
constexpr Scheme lightScheme = {
    "#fcfcfa", "#1f2328", "#5c6570", "#0b5cad", "#fff6cc",
    {
        "#1f2328",  // STRING
        "#1f2328",  // SPACE
        "#1d7a1d",  // COMMENT
        "#8a5a00",  // LITERAL
        "#1f6f99",  // SPECIAL_LABEL
        "#00739c",  // LINETOP_LABEL
        "#00739c",  // GENERIC_LABEL
        "#400080",  // NUMBER_VARIABLE
        "#8000ff",  // STRING_VARIABLE
        "#800080",  // ARRAY_VARIABLE
        "#0033cc",  // DEFINE_COMMAND
        "#0033cc",  // EXECUTE_COMMAND
        "#0033cc",  // COMMON_COMMAND
        "#0033cc",  // COLOR
        "#1f2328",  // NUMBER
        "#1f2328",  // SYMBOL
        "#000080",  // SPECIAL_CHARACTER
        "#1f2328",  // OPERATOR
        "#1f2328",  // RUBY
        "#1f2328",  // TAG
        "#1f2328",  // TEXT_BUTTON
        "#1f2328",  // PARENTHESIS_BEGIN
        "#1f2328",  // PARENTHESIS_END
        "#1f2328",  // BRACKET_BEGIN
        "#1f2328",  // BRACKET_END
        "#1f2328",  // ASCII
    },
};

// The same families of hue, lightened for a dark background.
constexpr Scheme darkScheme = {
    "#1c1e22", "#d6d9de", "#9aa1aa", "#8ab4f8", "#3a3420",
    {
        "#d6d9de",  // STRING
        "#d6d9de",  // SPACE
        "#7cc07c",  // COMMENT
        "#e0a852",  // LITERAL
        "#7cc4ea",  // SPECIAL_LABEL
        "#4cc2ee",  // LINETOP_LABEL
        "#4cc2ee",  // GENERIC_LABEL
        "#b59cf5",  // NUMBER_VARIABLE
        "#c58cff",  // STRING_VARIABLE
        "#e08ce0",  // ARRAY_VARIABLE
        "#82a8ff",  // DEFINE_COMMAND
        "#82a8ff",  // EXECUTE_COMMAND
        "#82a8ff",  // COMMON_COMMAND
        "#82a8ff",  // COLOR
        "#d6d9de",  // NUMBER
        "#d6d9de",  // SYMBOL
        "#a3b3ff",  // SPECIAL_CHARACTER
        "#d6d9de",  // OPERATOR
        "#d6d9de",  // RUBY
        "#d6d9de",  // TAG
        "#d6d9de",  // TEXT_BUTTON
        "#d6d9de",  // PARENTHESIS_BEGIN
        "#d6d9de",  // PARENTHESIS_END
        "#d6d9de",  // BRACKET_BEGIN
        "#d6d9de",  // BRACKET_END
        "#d6d9de",  // ASCII
    },
};

TokenType typeAt(std::size_t index) { return static_cast<TokenType>(index); }

// A value from color.txt goes into the sheet only when it cannot end its
// declaration or rule, open a comment or close the <style> element.
bool isPlainCssValue(std::string_view value) {
    if (value.empty()) return false;
    for (char c : value) {
        bool alphanumeric = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alphanumeric && std::string_view("#(),.%+-/ ").find(c) == std::string_view::npos) return false;
    }
    return true;
}

// The colour file's colour where it changed the built-in one, else ours.
std::string_view lightTokenColor(std::size_t index) {
    const std::string& color = nscr::fontInfos[index].color;
    bool changed = color != nscr::defaultColor(typeAt(index));
    return changed && isPlainCssValue(color) ? std::string_view(color) : lightScheme.tokens[index];
}

void addRule(std::string& sheet, std::string_view selector, std::string_view declarations) {
    sheet += selector;
    sheet += '{';
    sheet += declarations;
    sheet += "}\n";
}

std::string classSelector(TokenType type) {
    std::string selector = ".";
    selector += className(type);
    return selector;
}

void addSchemeRules(std::string& sheet, const Scheme& scheme) {
    addRule(sheet, "body", "background:" + std::string(scheme.background) + ";color:" + std::string(scheme.text));
    addRule(sheet, ".n,.ln", "color:" + std::string(scheme.muted));
    addRule(sheet, ".idx a,.pages a", "color:" + std::string(scheme.link));
    // Two rules: a browser without :has() drops only the second.
    addRule(sheet, ".l:target", "background:" + std::string(scheme.target));
    addRule(sheet, ".l:has(:target)", "background:" + std::string(scheme.target));
}

void addLightTokenRules(std::string& sheet) {
    for (std::size_t i = 0; i < typeCount; ++i) {
        std::string declarations = "color:" + std::string(lightTokenColor(i));
        const std::string& weight = nscr::fontInfos[i].fontWeight;
        if (weight != "normal" && isPlainCssValue(weight)) declarations += ";font-weight:" + weight;
        addRule(sheet, classSelector(typeAt(i)), declarations);
    }
}

void addDarkTokenRules(std::string& sheet) {
    for (std::size_t i = 0; i < typeCount; ++i)
        addRule(sheet, classSelector(typeAt(i)), "color:" + std::string(darkScheme.tokens[i]));
}

// Bytes of 0x80 and above are encoded too: a file name need not be UTF-8,
// and the page must be.
constexpr std::array<bool, 256> urlSpecialBytes = [] {
    std::array<bool, 256> special{};
    for (std::size_t c = 0; c < special.size(); ++c) special[c] = c <= 0x20 || c >= 0x7f;
    for (char c : std::string_view("\"#%&':<>?[\\]^`{|}")) special[static_cast<unsigned char>(c)] = true;
    return special;
}();

bool meansSomethingInUrl(unsigned char c) { return urlSpecialBytes[c]; }

}  // namespace

std::string_view className(TokenType type) {
    auto index = static_cast<std::size_t>(type);
    return index < classNames.size() ? classNames[index] : std::string_view();
}

namespace {
bool isEscapedByte(char c) { return c == '&' || c == '<' || c == '>' || c == '"'; }
}  // namespace

namespace {

// Whether the sixteen bytes at p hold a byte to escape.
bool escapedIn16(const char* p) {
    nscr::ByteLanes v = nscr::loadLanes(p);
    return nscr::anyLane(static_cast<nscr::ByteLanes>((v == '&') | (v == '<') | (v == '>') | (v == '"')));
}

// Whether the eight bytes at p hold a byte to escape: a byte equal to c
// leaves a zero byte in word ^ c...c.
bool escapedIn8(const char* p) {
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    std::uint64_t found = 0;
    for (unsigned char c : {'&', '<', '>', '"'}) {
        std::uint64_t x = word ^ (ones * c);
        found |= (x - ones) & ~x & highs;
    }
    return found != 0;
}

}  // namespace

bool hasEscapedByte(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
    // Whole blocks, then the last block again where the text does not end
    // on one: bytes looked at twice do no harm.
    if (n >= 16) {
        for (std::size_t at = 0; at + 16 <= n; at += 16)
            if (escapedIn16(p + at)) return true;
        return n % 16 != 0 && escapedIn16(p + n - 16);
    }
    if (n >= 8) return escapedIn8(p) || escapedIn8(p + n - 8);
    return std::any_of(text.begin(), text.end(), isEscapedByte);
}

void appendEscaped(std::string& out, std::string_view text) {
    // Most texts hold none of the four bytes: they go in whole.
    if (!hasEscapedByte(text)) {
        out += text;
        return;
    }
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
}

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendEscaped(out, text);
    return out;
}

bool isPlainInUrl(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return meansSomethingInUrl(static_cast<unsigned char>(c)); });
}

std::string hrefOfFile(std::string_view fileName) {
    constexpr std::string_view hexDigits = "0123456789ABCDEF";
    std::string href;
    for (char c : fileName) {
        auto byte = static_cast<unsigned char>(c);
        if (!meansSomethingInUrl(byte)) {
            href += c;
            continue;
        }
        href += '%';
        href += hexDigits[byte >> 4];
        href += hexDigits[byte & 0xf];
    }
    return href;
}

std::string colourRules() {
    std::string sheet;
    addSchemeRules(sheet, lightScheme);
    addLightTokenRules(sheet);
    sheet += "@media (prefers-color-scheme: dark){\n";
    addSchemeRules(sheet, darkScheme);
    addDarkTokenRules(sheet);
    sheet += "}\n";
    return sheet;
}

bool hasBodyColour(TokenType type) {
    auto index = static_cast<std::size_t>(type);
    if (index >= typeCount) return false;
    bool body = lightScheme.tokens[index] == lightScheme.text && darkScheme.tokens[index] == darkScheme.text;
    const nscr::WebFontInfo& font = nscr::fontInfos[index];
    bool own = (font.color != nscr::defaultColor(type) && isPlainCssValue(font.color)) ||
               (font.fontWeight != "normal" && isPlainCssValue(font.fontWeight));
    return body && !own;
}

void appendIndexOpening(std::string& out, std::size_t count) {
    out += "<nav class=\"idx\"><details><summary>Labels (";
    out += std::to_string(count);
    out += ")</summary>\n<ol>\n";
}

namespace {

// Writes text at out, escaped as appendEscaped escapes it; room: 6 bytes a byte.
char* writeEscaped(char* out, std::string_view text) {
    // Most texts hold none of the four bytes: they go in whole.
    if (!hasEscapedByte(text)) {
        if (!text.empty()) std::memcpy(out, text.data(), text.size());
        return out + text.size();
    }
    for (char c : text) {
        switch (c) {
            case '&': out = std::copy_n("&amp;", 5, out); break;
            case '<': out = std::copy_n("&lt;", 4, out); break;
            case '>': out = std::copy_n("&gt;", 4, out); break;
            case '"': out = std::copy_n("&quot;", 6, out); break;
            default: *out++ = c;
        }
    }
    return out;
}

template <std::size_t size>
char* writeText(char* out, const char (&text)[size]) {
    std::memcpy(out, text, size - 1);
    return out + size - 1;
}

}  // namespace

// Room for an entry: each escaped byte takes at most six.
std::size_t indexEntryRoom(std::size_t nameSize, std::size_t idSize, std::size_t pageHrefSize) {
    return 64 + 6 * (pageHrefSize + idSize + nameSize);
}

char* writeIndexEntry(char* out, std::string_view name, std::string_view id, std::int64_t line,
                      std::string_view pageHref) {
    out = writeText(out, "<li><a href=\"");
    out = writeEscaped(out, pageHref);
    *out++ = '#';
    out = writeEscaped(out, id);
    out = writeText(out, "\">*");
    out = writeEscaped(out, name);
    out = writeText(out, "</a><span class=\"ln\">");
    out = std::to_chars(out, out + 20, line).ptr;
    return writeText(out, "</span></li>\n");
}

void appendIndexEntry(std::string& out, std::string_view name, std::string_view id, std::int64_t line,
                      std::string_view pageHref) {
    std::size_t used = out.size();
    out.resize(used + indexEntryRoom(name.size(), id.size(), pageHref.size()));
    char* end = writeIndexEntry(out.data() + used, name, id, line, pageHref);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

void appendIndexClosing(std::string& out) { out += "</ol>\n</details></nav>\n"; }

}  // namespace html5
