#include "nscr/webhighlight.h"

#include <algorithm>
#include <cstring>

#include "nscr/file.h"
#include "nscr/lines.h"

namespace nscr {

namespace {

struct FontDefault {
    const char* color;
    const char* fontWeight;
};

constexpr std::array<FontDefault, tokenTypeCount> fontDefaults = {{
    {"#000000", "normal"},  // STRING
    {"#000000", "normal"},  // SPACE
    {"#008000", "normal"},  // COMMENT
    {"#996600", "normal"},  // LITERAL
    {"#3399cc", "bold"},    // SPECIAL_LABEL
    {"#0099cc", "bold"},    // LINETOP_LABEL
    {"#0099cc", "normal"},  // GENERIC_LABEL
    {"#400080", "normal"},  // NUMBER_VARIABLE
    {"#8000ff", "normal"},  // STRING_VARIABLE
    {"#800080", "normal"},  // ARRAY_VARIABLE
    {"#0000ff", "bold"},    // DEFINE_COMMAND
    {"#0000ff", "bold"},    // EXECUTE_COMMAND
    {"#0000ff", "bold"},    // COMMON_COMMAND
    {"#0000ff", "normal"},  // COLOR
    {"#000000", "normal"},  // NUMBER
    {"#000000", "normal"},  // SYMBOL
    {"#000080", "normal"},  // SPECIAL_CHARACTER
    {"#000000", "normal"},  // OPERATOR
    {"#000000", "normal"},  // RUBY
    {"#000000", "normal"},  // TAG
    {"#000000", "normal"},  // TEXT_BUTTON
    {"#000000", "normal"},  // PARENTHESIS_BEGIN
    {"#000000", "normal"},  // PARENTHESIS_END
    {"#000000", "normal"},  // BRACKET_BEGIN
    {"#000000", "normal"},  // BRACKET_END
    {"#000000", "normal"},  // ASCII
}};

FontTable defaultFontTable() {
    FontTable table;
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i].color = fontDefaults[i].color;
        table[i].fontWeight = fontDefaults[i].fontWeight;
        table[i].name = std::string(tokenTypeName(static_cast<TokenType>(i)));
    }
    return table;
}

// A byte as the page shows it: its entity, or the byte itself.
std::string_view escapedByte(unsigned char c) {
    const EscapedByte& escaped = escapedByteTexts[c];
    return {escaped.text, escaped.size};
}

// Whether a word read from memory holds one of the escaped bytes.
bool holdsEscapedByte(std::uint64_t word) {
    auto equalTo = [word](unsigned char c) { return zeroByteMask(word ^ (0x0101010101010101u * c)); };
    return (equalTo('<') | equalTo('>') | equalTo('&') | equalTo('"')) != 0;
}

char* put(char* out, std::string_view text) {
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

const WebFontInfo& fontInfo(TokenType type) { return fontInfos[static_cast<std::size_t>(type)]; }

bool isWhiteSpace(char c) { return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ' '; }

std::string_view trimWhiteSpace(std::string_view text) {
    while (!text.empty() && isWhiteSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isWhiteSpace(text.back())) text.remove_suffix(1);
    return text;
}

// A colour is copied into a style attribute or a style sheet: of ASCII,
// only the characters of CSS colour values are let through, so that no
// value can end the attribute or rule or comment out the rules after it.
// Other characters cannot, and are left to the page's encoding to hold.
bool isColorCharacter(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c >= 0x80) return true;
    return c != '\0' && std::strchr("#(),.% ", c) != nullptr;
}

// The first character of value a colour may not hold, as a message shows it.
std::optional<std::string> badColorCharacter(std::string_view value) {
    for (char c : value) {
        auto byte = static_cast<unsigned char>(c);
        if (isColorCharacter(byte)) continue;
        if (byte > 0x20 && byte < 0x7F) return std::string{'\'', c, '\''};
        static constexpr char hex[] = "0123456789ABCDEF";
        return std::string("byte 0x") + hex[byte >> 4] + hex[byte & 0xF];
    }
    return std::nullopt;
}

// Applies one line; the reason it was skipped when it names a colour that
// cannot be used.
std::optional<std::string> applyColorLine(std::string_view line, const ColorValueCheck& pageRefuses) {
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    std::string_view value = line.substr(equals + 1);
    value = trimWhiteSpace(value.substr(0, value.find('=')));
    std::string_view name = trimWhiteSpace(line.substr(0, equals));
    std::optional<TokenType> type = typeByName(name);
    if (!type) return std::nullopt;
    std::optional<std::string> why;
    if (auto bad = badColorCharacter(value)) {
        why = "it holds ";
        why->append(*bad).append("; a colour is letters, digits, blanks and # ( ) , . %");
    } else if (pageRefuses) {
        why = pageRefuses(value);
    }
    if (why) {
        std::string message = "colour of ";
        return message.append(name).append(" skipped: ").append(*why);
    }
    fontInfos[static_cast<std::size_t>(*type)].color = std::string(value);
    return std::nullopt;
}

}  // namespace

FontTable fontInfos = defaultFontTable();

void initWebHighlight() { fontInfos = defaultFontTable(); }

std::string_view defaultColor(TokenType type) {
    auto index = static_cast<std::size_t>(type);
    return index < fontDefaults.size() ? fontDefaults[index].color : "";
}

std::optional<TokenType> typeByName(std::string_view name) {
    for (int i = 0; i < tokenTypeCount; ++i) {
        auto type = static_cast<TokenType>(i);
        if (tokenTypeName(type) == name) return type;
    }
    return std::nullopt;
}

std::vector<ColorWarning> applyColorText(std::string_view content, const ColorValueCheck& pageRefuses) {
    std::vector<ColorWarning> warnings;
    std::size_t number = 0;
    forEachLine(content, [&](std::string_view line) {
        ++number;
        if (auto skipped = applyColorLine(line, pageRefuses)) warnings.push_back({number, std::move(*skipped)});
    });
    return warnings;
}

std::vector<ColorWarning> loadColorFile(const std::string& path, const ColorValueCheck& pageRefuses) {
    if (!pathExists(path)) return {};
    return applyColorText(readWholeFile(path), pageRefuses);
}

// ---- Span writer ----------------------------------------------------------

char* escapeTo(char* out, std::string_view text, TokenType type) {
    // A token of one escaped character is escaped whatever its type.
    if (text.size() == 1) return put(out, escapedByte(static_cast<unsigned char>(text[0])));
    if (!needsEscape(type)) return put(out, text);
    const char* in = text.data();
    const char* const end = in + text.size();
    while (in != end) {
        // Eight bytes at once where none of them is escaped.
        std::uint64_t word = 0;
        if (end - in >= 8) std::memcpy(&word, in, sizeof word);
        if (end - in >= 8 && !holdsEscapedByte(word)) {
            std::memcpy(out, &word, sizeof word);
            in += 8;
            out += 8;
            continue;
        }
        out = put(out, escapedByte(static_cast<unsigned char>(*in++)));
    }
    return out;
}

void appendEscaped(std::string& out, std::string_view text, TokenType type) {
    std::size_t used = out.size();
    out.resize(used + escapeRoom(text.size()));
    char* end = escapeTo(out.data() + used, text, type);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

std::string escapeText(std::string_view text, TokenType type) {
    std::string out;
    appendEscaped(out, text, type);
    return out;
}

std::string styleAttribute(TokenType type) {
    if (type == TokenType::SPACE) return {};
    const WebFontInfo& info = fontInfo(type);
    return "style=\"color: " + info.color + "; font-weight: " + info.fontWeight + ";\"";
}

std::string wrapStyleSpan(std::string_view text, std::string_view style) {
    if (text.empty()) return {};
    if (style.empty()) return std::string(text);
    std::string span = "<span ";
    span += style;
    span += '>';
    span += text;
    span += SpanFormat::spanClosing;
    return span;
}

std::string wrapClassSpan(std::string_view text, TokenType type) {
    if (text.empty()) return {};
    auto index = static_cast<std::int32_t>(type);
    if (index < 0 || index >= tokenTypeCount) return std::string(text);
    std::string span = "<span class=\"" + fontInfo(type).name + "\">";
    span += text;
    span += SpanFormat::spanClosing;
    return span;
}

std::string cssRule(std::string_view selector, const std::vector<std::string>& declarations) {
    std::string rule(selector);
    rule += "\r\n{\r\n";
    for (const std::string& declaration : declarations) {
        rule += '\t';
        rule += declaration;
        rule += "\r\n";
    }
    rule += "}\r\n";
    return rule;
}

std::string styleSheet() {
    std::string sheet;
    for (const WebFontInfo& info : fontInfos)
        sheet += cssRule("." + info.name, {"color: " + info.color + ";", "font-weight: " + info.fontWeight + ";"});
    return sheet;
}

std::string formatStyled(TokenType type, std::string_view text) {
    std::string escaped = escapeText(text, type);
    return wrapStyleSpan(escaped, styleAttribute(type));
}

std::string formatClassed(TokenType type, std::string_view text) {
    return wrapClassSpan(escapeText(text, type), type);
}

// ---- SpanFormat -----------------------------------------------------------

SpanFormat SpanFormat::styled() {
    std::array<std::string, tokenTypeCount> openings, closings;
    for (std::size_t i = 0; i < openings.size(); ++i) {
        std::string style = styleAttribute(static_cast<TokenType>(i));
        if (style.empty()) continue;
        openings[i] = "<span " + style + ">";
        closings[i] = spanClosing;
    }
    return of(openings, closings);
}

SpanFormat SpanFormat::classed() {
    std::array<std::string, tokenTypeCount> openings, closings;
    for (std::size_t i = 0; i < openings.size(); ++i) {
        openings[i] = "<span class=\"" + fontInfos[i].name + "\">";
        closings[i] = spanClosing;
    }
    return of(openings, closings);
}

SpanFormat SpanFormat::of(const std::array<std::string, tokenTypeCount>& openings,
                          const std::array<std::string, tokenTypeCount>& closings) {
    SpanFormat format;
    format.openings_ = openings;
    format.closings_ = closings;
    format.fillBlocks();
    return format;
}

void SpanFormat::replaceOpening(TokenType type, std::string text) {
    openings_[static_cast<std::size_t>(type)] = std::move(text);
    fillBlocks();
}

void SpanFormat::fillBlocks() {
    for (std::size_t i = 0; i < openings_.size(); ++i) {
        sizes_[i] = openings_[i].size();
        blocks_[i] = {};
        if (sizes_[i] <= blockSize) std::memcpy(blocks_[i].data(), openings_[i].data(), sizes_[i]);
        // Closings are short fixed texts: "</span>", "</a>" or none.
        closingSizes_[i] = std::min(closings_[i].size(), closingBlockSize);
        closingBlocks_[i] = {};
        std::memcpy(closingBlocks_[i].data(), closings_[i].data(), closingSizes_[i]);
    }
}

char* SpanFormat::writeLongOpening(char* out, std::size_t index) const { return put(out, openings_[index]); }

std::size_t SpanFormat::markupRoom() const {
    std::size_t longest = blockSize;
    for (const std::string& opening : openings_) longest = std::max(longest, opening.size());
    return longest + closingBlockSize;
}

void SpanFormat::append(std::string& out, TokenType type, std::string_view text) const {
    if (text.empty()) return;
    out += opening(type);
    appendEscaped(out, text, type);
    out += closing(type);
}

}  // namespace nscr
