#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "nscr/error.h"

namespace nscr {

enum class TokenType : std::int32_t {
    STRING = 0,
    SPACE,
    COMMENT,
    LITERAL,
    SPECIAL_LABEL,
    LINETOP_LABEL,
    GENERIC_LABEL,
    NUMBER_VARIABLE,
    STRING_VARIABLE,
    ARRAY_VARIABLE,
    DEFINE_COMMAND,
    EXECUTE_COMMAND,
    COMMON_COMMAND,
    COLOR,
    NUMBER,
    SYMBOL,
    SPECIAL_CHARACTER,
    OPERATOR,
    RUBY,
    TAG,
    TEXT_BUTTON,
    PARENTHESIS_BEGIN,
    PARENTHESIS_END,
    BRACKET_BEGIN,
    BRACKET_END,
    ASCII,
};

inline constexpr int tokenTypeCount = 26;

// The external name of a type ("STRING" ... "ASCII"); empty outside 0..25.
std::string_view tokenTypeName(TokenType type);

// A token's text is a view: into the line it was cut from, or, for tokens
// made from one character, into a constant table of one-byte strings. The
// line must outlive its tokens.
struct Token {
    std::string_view text;
    TokenType type = TokenType::STRING;

    Token() = default;
    Token(std::string_view text, TokenType type) : text(text), type(type) {}
    Token(char character, TokenType type);

    bool operator==(const Token& other) const = default;
};

using TokenLine = std::vector<Token>;

// ---- Reserved command table -------------------------------------------

// Command name to type, built for the tokenizer's look-ups: open addressing
// over a power-of-two array of slots. A slot holds the first eight bytes and
// the size of its name, so that a name of up to eight bytes is told by two
// integer comparisons. Entries stay in the order they were first inserted.
class CommandTable {
public:
    using value_type = std::pair<std::string, TokenType>;
    using const_iterator = std::vector<value_type>::const_iterator;

    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    void clear();
    const_iterator find(std::string_view name) const;
    // Adds the name, or gives an existing name its new type.
    void insert_or_assign(std::string_view name, TokenType type);

private:
    struct Slot {
        std::uint64_t head = 0;  // the name's first eight bytes, zero-padded
        std::uint32_t size = 0;  // of the name (cut to 32 bits)
        std::uint32_t entry = 0;  // index of the entry plus one; 0: free
    };
    static std::uint64_t headOf(std::string_view name);
    static std::size_t hashOf(std::string_view name, std::uint64_t head);
    bool holds(const Slot& slot, std::string_view name, std::uint64_t head) const;
    std::size_t slotOf(std::string_view name) const;
    void rebuildSlots(std::size_t count);

    std::vector<value_type> entries_;
    std::vector<Slot> slots_;
};

// The run's reserved commands: filled once from "commands.txt", then only read.
extern CommandTable reservedCommands;

TokenType commandClassType(std::string_view classField);
// A line of a command file out of format: what() is the one fixed message,
// line() the line counted from 1, reason() what is wrong with it.
class CommandsFormatError : public Error {
public:
    CommandsFormatError(std::size_t line, std::string_view reason);
    std::size_t line() const { return line_; }
    const std::string& reason() const { return reason_; }

private:
    std::size_t line_;
    std::string reason_;
};
// Fills reservedCommands from the text of a command file (raw bytes).
void loadReservedCommandsFromText(std::string_view content);
// Reads the file at path whole, then as loadReservedCommandsFromText.
void loadReservedCommands(const std::string& path);
void lookupReservedCommand(Token& token);

// ---- Character classes and scanners -----------------------------------

bool isBlank(unsigned char c);
bool isDigit(unsigned char c);
bool isHexDigit(unsigned char c);
bool isLetter(unsigned char c);
bool isSymbolHead(unsigned char c);
bool isSymbolChar(unsigned char c);

// Each scanner starts at pos and leaves pos on the last byte of the lexeme.
std::string_view scanSpaces(std::string_view line, std::size_t& pos);
std::string_view scanSymbol(std::string_view line, std::size_t& pos);
std::string_view scanNumber(std::string_view line, std::size_t& pos);
std::string_view scanHexDigits(std::string_view line, std::size_t& pos);
std::string_view scanMultibyte(std::string_view line, std::size_t& pos);
std::string_view scanLiteral(std::string_view line, std::size_t& pos);
std::string_view scanMarkup(std::string_view line, std::size_t& pos, char open, char close);
std::string_view scanNumberVariable(std::string_view line, std::size_t& pos);
std::string_view scanStringVariable(std::string_view line, std::size_t& pos);
std::string_view scanArrayVariable(std::string_view line, std::size_t& pos);

bool isTextButton(std::string_view line, std::size_t pos);
bool isRuby(std::string_view line, std::size_t pos);
bool isAllSpaces(const TokenLine& tokens);

// ---- Line tokenizer ---------------------------------------------------

// A place where no rule of the tokenizer fits.
struct TokenFault {
    std::size_t column = 0;    // zero-based byte offset of the byte at which the failing rule started
    std::string_view message;  // the tokenizer's message; static storage, never freed
};

// Receives the faults a lenient tokenizer recovers from.
class TokenFaultSink {
public:
    virtual void recovered(const TokenFault& fault) = 0;

protected:
    ~TokenFaultSink() = default;
};

// The error a strict tokenizer raises: what() is the bare message, without
// a line index; column() as in TokenFault.
class TokenError : public Error {
public:
    TokenError(std::string_view message, std::size_t column);
    std::size_t column() const { return column_; }
    std::string_view message() const { return what(); }

private:
    std::size_t column_;
};

// Cuts one line into tokens a batch at a time, so that the tokens of a long
// line need not all be held at once. The line (and the sink) must outlive
// the cutter.
//
// Without a sink the cutter is strict: its first fault raises TokenError.
// With one it is lenient: where a rule fails, the byte at which the rule
// started (always ASCII) becomes a one-byte ASCII token, the sink hears of
// the fault, and cutting goes on from the byte after it. A line the strict
// cutter accepts gives the same tokens in both modes.
class TokenCutter {
public:
    explicit TokenCutter(std::string_view line, TokenFaultSink* lenient = nullptr)
        : line_(line), lenient_(lenient) {}
    // Replaces the contents of tokens with the line's next tokens, at most
    // `most` of them; false when the line has none left.
    bool cutNext(TokenLine& tokens, std::size_t most);
    bool finished() const { return pos_ >= line_.size(); }

private:
    // The token that stands for a fault at column, or the strict throw.
    Token recover(std::size_t column, std::string_view message) const;

    std::string_view line_;
    TokenFaultSink* lenient_;
    std::size_t pos_ = 0;
    bool onlySpaces_ = true;  // every token so far is SPACE
};

// Cuts one line into tokens, replacing the contents of tokens. Strict
// unless given a sink.
void parseToToken(std::string_view line, TokenLine& tokens);
TokenLine parseToToken(std::string_view line);
void parseToToken(std::string_view line, TokenLine& tokens, TokenFaultSink& lenient);
TokenLine parseToToken(std::string_view line, TokenFaultSink& lenient);
// The message of a line's error as the all-lines form raises it: "index: message".
std::string lineErrorMessage(std::size_t index, std::string_view message);
// All lines of one script; an error names the zero-based index of its line.
std::vector<TokenLine> parseToToken(const std::vector<std::string>& lines);

}  // namespace nscr
