#include "nscr/token.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "nscr/error.h"
#include "nscr/file.h"
#include "nscr/lines.h"

namespace nscr {

namespace {

constexpr std::array<std::string_view, tokenTypeCount> typeNames = {
    "STRING",          "SPACE",           "COMMENT",         "LITERAL",        "SPECIAL_LABEL",
    "LINETOP_LABEL",   "GENERIC_LABEL",   "NUMBER_VARIABLE", "STRING_VARIABLE", "ARRAY_VARIABLE",
    "DEFINE_COMMAND",  "EXECUTE_COMMAND", "COMMON_COMMAND",  "COLOR",          "NUMBER",
    "SYMBOL",          "SPECIAL_CHARACTER", "OPERATOR",      "RUBY",           "TAG",
    "TEXT_BUTTON",     "PARENTHESIS_BEGIN", "PARENTHESIS_END", "BRACKET_BEGIN", "BRACKET_END",
    "ASCII",
};

// Storage for tokens made from one character: byte c lives at index c.
constexpr std::array<char, 256> makeSingleBytes() {
    std::array<char, 256> bytes{};
    for (int i = 0; i < 256; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(i);
    return bytes;
}
constexpr std::array<char, 256> singleBytes = makeSingleBytes();

constexpr std::string_view specialLabelNames[] = {"start", "define", "customsel"};
constexpr std::string_view textControlWords[] = {"!d", "!s", "!w", "!sd"};

// The tokenizer's messages. A rule that fails names one of them (or one of
// the composed ones below) through a view, so a fault needs no allocation.
constexpr std::string_view msgControlAtEnd = "input 'd', 's', 'sd', 'w' to line bottom";
constexpr std::string_view msgControlWord = "input 'd', 's', 'sd', 'w' follow '!'";
constexpr std::string_view msgColor = "the format of color is #[0-9a-fA-F]{6}";
constexpr std::string_view msgVariableAtEnd = "input symbol or number to line bottom";
constexpr std::string_view msgVariable = "input symbol or number";
constexpr std::string_view msgParenAtEnd = "not found ')'.";
constexpr std::string_view msgMarkupNest = "invalid markup nest";
constexpr std::string_view msgBadRuby = "bad ruby format";
const char* const msgBadCommands = "bad format the description of reserved commands";

// "unexpected character 'c' just after '('." for every ASCII byte c, built
// once at compile time so that each can be handed out as a view.
constexpr std::string_view unexpectedHead = "unexpected character '";
constexpr std::string_view unexpectedTail = "' just after '('.";
constexpr std::size_t unexpectedSize = unexpectedHead.size() + 1 + unexpectedTail.size();
using UnexpectedMessages = std::array<std::array<char, unexpectedSize>, 0x80>;

constexpr UnexpectedMessages makeUnexpectedMessages() {
    UnexpectedMessages messages{};
    for (std::size_t c = 0; c < messages.size(); ++c) {
        auto out = messages[c].begin();
        out = std::copy(unexpectedHead.begin(), unexpectedHead.end(), out);
        *out++ = static_cast<char>(c);
        std::copy(unexpectedTail.begin(), unexpectedTail.end(), out);
    }
    return messages;
}
constexpr UnexpectedMessages unexpectedMessages = makeUnexpectedMessages();

std::string_view unexpectedCharacterMessage(unsigned char c) {
    return {unexpectedMessages[c & 0x7f].data(), unexpectedSize};
}

// Internally a failing step names its message in `fault` (left empty on
// success) instead of throwing, so that a lenient cutter can recover from
// millions of faults cheaply. The public scanners turn a fault into an Error.
using Fault = std::string_view;

void throwOnFault(Fault fault) {
    if (!fault.empty()) throw Error(std::string(fault));
}

unsigned char byteAt(std::string_view line, std::size_t pos) { return static_cast<unsigned char>(line[pos]); }

bool isAsciiByte(unsigned char c) { return c < 0x80; }

template <typename Continues>
std::string_view scanRun(std::string_view line, std::size_t& pos, bool takeFirst, Continues continues) {
    const std::size_t start = pos;
    std::size_t p = takeFirst ? start + 1 : start;
    while (p < line.size() && continues(byteAt(line, p))) ++p;
    // p is one past the lexeme; the position convention wants its last byte.
    pos = p - 1;
    return line.substr(start, p - start);
}

bool isTextControl(std::string_view text) {
    for (std::string_view word : textControlWords)
        if (text == word) return true;
    // Wait and speed controls with a number: "!d1000", "!s0", "!w500".
    if (text.size() < 3) return false;
    char kind = text[1];
    if (kind != 'd' && kind != 's' && kind != 'w') return false;
    for (std::size_t i = 2; i < text.size(); ++i)
        if (!isDigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

bool isSpecialLabelName(std::string_view name) {
    for (std::string_view special : specialLabelNames)
        if (name == special) return true;
    return false;
}

bool isSecondPrefix(unsigned char c, bool acceptsQuestion) { return c == '%' || (acceptsQuestion && c == '?'); }

std::string_view scanVariable(std::string_view line, std::size_t& pos, bool acceptsQuestion, Fault& fault) {
    const std::size_t start = pos;
    std::size_t p = start + 1;
    if (isSecondPrefix(byteAt(line, p), acceptsQuestion)) {
        if (p == line.size() - 1) {
            fault = msgVariable;
            return {};
        }
        ++p;
    }
    unsigned char c = byteAt(line, p);
    if (isSymbolHead(c)) {
        scanSymbol(line, p);
    } else if (isDigit(c)) {
        scanNumber(line, p);
    } else {
        fault = msgVariable;
        return {};
    }
    pos = p;
    return line.substr(start, p - start + 1);
}

std::string_view scanMarkup(std::string_view line, std::size_t& pos, char open, char close, Fault& fault) {
    const std::size_t start = pos;
    std::size_t p = start + 1;
    for (; p < line.size(); ++p) {
        if (line[p] == close) break;
        if (line[p] == open) {
            fault = msgMarkupNest;
            return {};
        }
    }
    pos = p < line.size() ? p : line.size() - 1;
    return line.substr(start, pos - start + 1);
}

std::size_t skipNonAscii(std::string_view line, std::size_t i) {
    while (i < line.size() && !isAsciiByte(byteAt(line, i))) ++i;
    return i;
}

bool isRuby(std::string_view line, std::size_t pos, Fault& fault) {
    unsigned char c = byteAt(line, pos + 1);
    if (isLetter(c) || isDigit(c) || c == '%' || c == '?') return false;
    if (isAsciiByte(c)) {
        fault = unexpectedCharacterMessage(c);
        return false;
    }
    std::size_t slash = skipNonAscii(line, pos + 1);
    if (slash == line.size() || line[slash] != '/') {
        fault = msgBadRuby;
        return false;
    }
    std::size_t close = skipNonAscii(line, slash + 1);
    return close < line.size() && line[close] == ')';
}

// ---- Dispatch rules: each leaves pos on the last byte of its token, or
// names a fault (its token and pos are then of no use) ----

bool isLastByte(std::string_view line, std::size_t pos) { return pos + 1 == line.size(); }

Token ruleExclamation(std::string_view line, std::size_t& pos, Fault& fault) {
    const std::size_t start = pos;
    if (isLastByte(line, pos)) {
        fault = msgControlAtEnd;
        return {};
    }
    ++pos;
    if (line[pos] == '=') return Token(line.substr(start, 2), TokenType::OPERATOR);
    scanSymbol(line, pos);
    std::string_view text = line.substr(start, pos - start + 1);
    if (!isTextControl(text)) fault = msgControlWord;
    return Token(text, TokenType::SPECIAL_CHARACTER);
}

Token ruleColor(std::string_view line, std::size_t& pos, Fault& fault) {
    const std::size_t start = pos;
    ++pos;
    if (pos < line.size()) {
        scanHexDigits(line, pos);
    } else {
        pos = start;
    }
    std::string_view text = line.substr(start, pos - start + 1);
    if (text.size() != 7) fault = msgColor;
    return Token(text, TokenType::COLOR);
}

bool variableEndsTooSoon(std::string_view line, std::size_t pos) {
    return isLastByte(line, pos) || (line[pos + 1] == '%' && isLastByte(line, pos + 1));
}

Token ruleVariable(std::string_view line, std::size_t& pos, Fault& fault) {
    if (variableEndsTooSoon(line, pos)) {
        fault = msgVariableAtEnd;
        return {};
    }
    switch (line[pos]) {
        case '$': return Token(scanVariable(line, pos, true, fault), TokenType::STRING_VARIABLE);
        case '%': return Token(scanVariable(line, pos, true, fault), TokenType::NUMBER_VARIABLE);
        default: return Token(scanVariable(line, pos, false, fault), TokenType::ARRAY_VARIABLE);
    }
}

Token ruleParenthesis(std::string_view line, std::size_t& pos, Fault& fault) {
    if (isLastByte(line, pos)) {
        fault = msgParenAtEnd;
        return {};
    }
    // A ruby group holds no "(" before its ")", so its markup scan cannot fail.
    if (isRuby(line, pos, fault)) return Token(scanMarkup(line, pos, '(', ')', fault), TokenType::RUBY);
    return Token('(', TokenType::PARENTHESIS_BEGIN);
}

Token ruleAsterisk(std::string_view line, std::size_t& pos, bool atLineTop) {
    const std::size_t start = pos;
    TokenType labelType = atLineTop ? TokenType::LINETOP_LABEL : TokenType::GENERIC_LABEL;
    if (isLastByte(line, pos)) return Token(line.substr(start, 1), labelType);
    if (!isSymbolHead(byteAt(line, pos + 1))) return Token('*', TokenType::OPERATOR);
    ++pos;
    std::string_view name = scanSymbol(line, pos);
    if (atLineTop && isSpecialLabelName(name)) labelType = TokenType::SPECIAL_LABEL;
    return Token(line.substr(start, pos - start + 1), labelType);
}

Token ruleUnderscore(std::string_view line, std::size_t& pos) {
    if (!isLastByte(line, pos) && isSymbolChar(byteAt(line, pos + 1)))
        return Token(scanSymbol(line, pos), TokenType::SYMBOL);
    return Token('_', TokenType::SPECIAL_CHARACTER);
}

Token ruleDefault(std::string_view line, std::size_t& pos) {
    unsigned char c = byteAt(line, pos);
    if (isDigit(c)) return Token(scanNumber(line, pos), TokenType::NUMBER);
    if (isSymbolHead(c)) return Token(scanSymbol(line, pos), TokenType::SYMBOL);
    if (isAsciiByte(c)) return Token(static_cast<char>(c), TokenType::ASCII);
    return Token(scanMultibyte(line, pos), TokenType::STRING);
}

Token nextToken(std::string_view line, std::size_t& pos, bool onlySpacesBefore, Fault& fault) {
    const char c = line[pos];
    switch (c) {
        case '\t':
        case ' ': return Token(scanSpaces(line, pos), TokenType::SPACE);
        case '!': return ruleExclamation(line, pos, fault);
        case '"': return Token(scanLiteral(line, pos), TokenType::LITERAL);
        case '#': return ruleColor(line, pos, fault);
        case '$':
        case '%':
        case '?': return ruleVariable(line, pos, fault);
        case '&':
        case '+':
        case '-':
        case ':':
        case '=': return Token(c, TokenType::OPERATOR);
        case '(': return ruleParenthesis(line, pos, fault);
        case ')': return Token(c, TokenType::PARENTHESIS_END);
        case '*': return ruleAsterisk(line, pos, onlySpacesBefore);
        case '/': return Token(c, isLastByte(line, pos) ? TokenType::SPECIAL_CHARACTER : TokenType::OPERATOR);
        case ';': {
            std::string_view rest = line.substr(pos);
            pos = line.size() - 1;
            return Token(rest, TokenType::COMMENT);
        }
        case '<':
            if (isTextButton(line, pos)) return Token(scanMarkup(line, pos, '<', '>', fault), TokenType::TEXT_BUTTON);
            return Token(c, TokenType::OPERATOR);
        case '@':
        case '\\': return Token(c, TokenType::SPECIAL_CHARACTER);
        case '[':
            if (onlySpacesBefore) return Token(scanMarkup(line, pos, '[', ']', fault), TokenType::TAG);
            return Token(c, TokenType::BRACKET_BEGIN);
        case ']': return Token(c, TokenType::BRACKET_END);
        case '_': return ruleUnderscore(line, pos);
        default: return ruleDefault(line, pos);
    }
}

}  // namespace

std::string_view tokenTypeName(TokenType type) {
    auto index = static_cast<std::int32_t>(type);
    if (index < 0 || index >= tokenTypeCount) return {};
    return typeNames[static_cast<std::size_t>(index)];
}

Token::Token(char character, TokenType type)
    : text(&singleBytes[static_cast<unsigned char>(character)], 1), type(type) {}

// ---- CommandTable ---------------------------------------------------------

std::uint64_t CommandTable::headOf(std::string_view name) {
    std::uint64_t head = 0;
    if (name.size() >= sizeof head) {
        std::memcpy(&head, name.data(), sizeof head);
    } else {
        for (std::size_t k = 0; k < name.size(); ++k)
            head |= std::uint64_t{static_cast<unsigned char>(name[k])} << (8 * k);
    }
    return head;
}

std::size_t CommandTable::hashOf(std::string_view name, std::uint64_t head) {
    constexpr std::uint64_t mix = 0x9e3779b97f4a7c15u;
    std::uint64_t hash = (head ^ name.size()) * mix;
    // Names longer than eight bytes are rare: their tail is mixed in too.
    for (std::size_t at = sizeof head; at < name.size(); ++at)
        hash = (hash ^ static_cast<unsigned char>(name[at])) * mix;
    return static_cast<std::size_t>(hash ^ hash >> 29);
}

bool CommandTable::holds(const Slot& slot, std::string_view name, std::uint64_t head) const {
    if (slot.head != head || slot.size != static_cast<std::uint32_t>(name.size())) return false;
    return name.size() <= sizeof head || entries_[slot.entry - 1].first == name;
}

// The slot that holds the name, or the free slot where it would go.
std::size_t CommandTable::slotOf(std::string_view name) const {
    const std::size_t mask = slots_.size() - 1;
    const std::uint64_t head = headOf(name);
    for (std::size_t at = hashOf(name, head) & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.entry == 0 || holds(slot, name, head)) return at;
    }
}

// count: a power of two, so that a probe can wrap with a mask.
void CommandTable::rebuildSlots(std::size_t count) {
    slots_.assign(count, Slot{});
    const std::size_t mask = count - 1;
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        std::string_view name = entries_[k].first;
        std::uint64_t head = headOf(name);
        std::size_t at = hashOf(name, head) & mask;
        while (slots_[at].entry != 0) at = (at + 1) & mask;
        slots_[at] = {head, static_cast<std::uint32_t>(name.size()), static_cast<std::uint32_t>(k + 1)};
    }
}

void CommandTable::clear() {
    entries_.clear();
    slots_.clear();
}

CommandTable::const_iterator CommandTable::find(std::string_view name) const {
    if (entries_.empty()) return end();
    const Slot& slot = slots_[slotOf(name)];
    return slot.entry == 0 ? end() : begin() + (slot.entry - 1);
}

void CommandTable::insert_or_assign(std::string_view name, TokenType type) {
    // At most half the slots in use keeps the probe runs short.
    if (2 * (entries_.size() + 1) > slots_.size()) rebuildSlots(std::bit_ceil(std::max<std::size_t>(16, 4 * (entries_.size() + 1))));
    Slot& slot = slots_[slotOf(name)];
    if (slot.entry != 0) {
        entries_[slot.entry - 1].second = type;
        return;
    }
    if (entries_.size() >= UINT32_MAX) throw std::length_error("too many reserved commands");
    entries_.emplace_back(std::string(name), type);
    slot = {headOf(name), static_cast<std::uint32_t>(name.size()), static_cast<std::uint32_t>(entries_.size())};
}

// ---- Reserved command table -------------------------------------------

CommandTable reservedCommands;

TokenType commandClassType(std::string_view classField) {
    if (classField == "F") return TokenType::DEFINE_COMMAND;
    if (classField == "E") return TokenType::EXECUTE_COMMAND;
    return TokenType::COMMON_COMMAND;
}

CommandsFormatError::CommandsFormatError(std::size_t line, std::string_view reason)
    : Error(msgBadCommands), line_(line), reason_(reason) {}

void loadReservedCommandsFromText(std::string_view content) {
    std::size_t number = 0;
    forEachLine(content, [&number](std::string_view line) {
        ++number;
        std::size_t comma = line.find(',');
        if (line.empty()) throw CommandsFormatError(number, "a blank line");
        if (comma != std::string_view::npos && line.find(',', comma + 1) != std::string_view::npos)
            throw CommandsFormatError(number, "more than one comma; a line is name or name,CLASS");
        std::string_view name = line.substr(0, comma);
        TokenType type = comma == std::string_view::npos ? TokenType::COMMON_COMMAND
                                                          : commandClassType(line.substr(comma + 1));
        reservedCommands.insert_or_assign(name, type);
    });
}

void loadReservedCommands(const std::string& path) { loadReservedCommandsFromText(readWholeFile(path)); }

namespace {
// The type of a SYMBOL token: a reserved command's type when its text names
// one. Taking the text by value keeps the token out of memory in the
// tokenizer's loop.
TokenType symbolType(std::string_view text) {
    auto found = reservedCommands.find(text);
    return found == reservedCommands.end() ? TokenType::SYMBOL : found->second;
}
}  // namespace

void lookupReservedCommand(Token& token) {
    if (token.type == TokenType::SYMBOL) token.type = symbolType(token.text);
}

// ---- Character classes --------------------------------------------------

bool isBlank(unsigned char c) { return c == ' ' || c == '\t'; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(unsigned char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isSymbolHead(unsigned char c) { return isLetter(c) || c == '_'; }
bool isSymbolChar(unsigned char c) { return isSymbolHead(c) || isDigit(c); }

// ---- Scanners -----------------------------------------------------------

std::string_view scanSpaces(std::string_view line, std::size_t& pos) { return scanRun(line, pos, false, isBlank); }
std::string_view scanSymbol(std::string_view line, std::size_t& pos) { return scanRun(line, pos, true, isSymbolChar); }
std::string_view scanNumber(std::string_view line, std::size_t& pos) { return scanRun(line, pos, true, isDigit); }
std::string_view scanHexDigits(std::string_view line, std::size_t& pos) {
    return scanRun(line, pos, false, isHexDigit);
}
std::string_view scanMultibyte(std::string_view line, std::size_t& pos) {
    // Japanese text makes long runs: step over sixteen bytes at a time (eight
    // without SSE2) while all of them are 0x80 or above.
    const std::size_t start = pos;
    std::size_t p = start;
#if defined(__SSE2__)
    for (; line.size() - p >= 16; p += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + p));
        auto high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
        if (high != 0xffffu) {
            p += static_cast<std::size_t>(std::countr_one(high));
            pos = p - 1;
            return line.substr(start, p - start);
        }
    }
#endif
    constexpr std::uint64_t highBits = 0x8080808080808080u;
    for (std::uint64_t word; line.size() - p >= 8; p += 8) {
        std::memcpy(&word, line.data() + p, sizeof word);
        if ((word & highBits) != highBits) break;
    }
    while (p < line.size() && !isAsciiByte(byteAt(line, p))) ++p;
    pos = p - 1;
    return line.substr(start, p - start);
}

std::string_view scanLiteral(std::string_view line, std::size_t& pos) {
    const std::size_t start = pos;
    std::size_t close = line.find('"', start + 1);
    pos = close == std::string_view::npos ? line.size() - 1 : close;
    return line.substr(start, pos - start + 1);
}

std::string_view scanMarkup(std::string_view line, std::size_t& pos, char open, char close) {
    Fault fault;
    std::string_view lexeme = scanMarkup(line, pos, open, close, fault);
    throwOnFault(fault);
    return lexeme;
}

namespace {
std::string_view scanVariableOrThrow(std::string_view line, std::size_t& pos, bool acceptsQuestion) {
    Fault fault;
    std::string_view lexeme = scanVariable(line, pos, acceptsQuestion, fault);
    throwOnFault(fault);
    return lexeme;
}
}  // namespace

std::string_view scanNumberVariable(std::string_view line, std::size_t& pos) {
    return scanVariableOrThrow(line, pos, true);
}
std::string_view scanStringVariable(std::string_view line, std::size_t& pos) {
    return scanVariableOrThrow(line, pos, true);
}
std::string_view scanArrayVariable(std::string_view line, std::size_t& pos) {
    return scanVariableOrThrow(line, pos, false);
}

// ---- Predicates -----------------------------------------------------------

bool isTextButton(std::string_view line, std::size_t pos) {
    std::size_t i = pos + 1;
    while (i < line.size() && isDigit(byteAt(line, i))) ++i;
    while (i < line.size() && !isAsciiByte(byteAt(line, i))) ++i;
    return i < line.size() && line[i] == '>';
}

bool isRuby(std::string_view line, std::size_t pos) {
    Fault fault;
    bool ruby = isRuby(line, pos, fault);
    throwOnFault(fault);
    return ruby;
}

bool isAllSpaces(const TokenLine& tokens) {
    for (const Token& token : tokens)
        if (token.type != TokenType::SPACE) return false;
    return true;
}

// ---- Tokenizer ------------------------------------------------------------

TokenError::TokenError(std::string_view message, std::size_t column)
    : Error(std::string(message)), column_(column) {}

Token TokenCutter::recover(std::size_t column, std::string_view message) const {
    if (lenient_ == nullptr) throw TokenError(message, column);
    lenient_->recovered(TokenFault{column, message});
    return Token(line_[column], TokenType::ASCII);
}

bool TokenCutter::cutNext(TokenLine& tokens, std::size_t most) {
    tokens.clear();
    // Worked on in locals: stores into the token list could otherwise alias
    // the cutter's members and make every step load them again.
    const std::string_view line = line_;
    std::size_t pos = pos_;
    bool onlySpaces = onlySpaces_;
    for (; pos < line.size() && tokens.size() < most; ++pos) {
        const std::size_t start = pos;
        Fault fault;
        Token token = nextToken(line, pos, onlySpaces, fault);
        if (!fault.empty()) [[unlikely]] {
            // Every failing rule starts at an ASCII dispatch byte: that byte
            // alone becomes the token, and cutting goes on after it.
            token = recover(start, fault);
            pos = start;
        }
        if (token.type == TokenType::SYMBOL) token.type = symbolType(token.text);
        onlySpaces = onlySpaces && token.type == TokenType::SPACE;
        tokens.push_back(token);
    }
    pos_ = pos;
    onlySpaces_ = onlySpaces;
    return !tokens.empty();
}

void parseToToken(std::string_view line, TokenLine& tokens) {
    TokenCutter(line).cutNext(tokens, SIZE_MAX);
}

TokenLine parseToToken(std::string_view line) {
    TokenLine tokens;
    parseToToken(line, tokens);
    return tokens;
}

void parseToToken(std::string_view line, TokenLine& tokens, TokenFaultSink& lenient) {
    TokenCutter(line, &lenient).cutNext(tokens, SIZE_MAX);
}

TokenLine parseToToken(std::string_view line, TokenFaultSink& lenient) {
    TokenLine tokens;
    parseToToken(line, tokens, lenient);
    return tokens;
}

std::string lineErrorMessage(std::size_t index, std::string_view message) {
    std::string text = std::to_string(index);
    text += ": ";
    text += message;
    return text;
}

std::vector<TokenLine> parseToToken(const std::vector<std::string>& lines) {
    std::vector<TokenLine> result;
    result.reserve(lines.size());
    for (std::size_t index = 0; index < lines.size(); ++index) {
        try {
            result.push_back(parseToToken(lines[index]));
        } catch (const Error& error) {
            throw Error(lineErrorMessage(index, error.what()));
        }
    }
    return result;
}

}  // namespace nscr
