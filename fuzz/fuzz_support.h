#pragma once

// Helpers shared by the fuzz targets: stopping on a broken invariant, and
// recognising the tokenizer's error messages.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace fuzz {

// Reports what broke and stops with a trap, so that libFuzzer saves the input.
[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
    std::fprintf(stderr, "\n*** broken invariant: %.*s", static_cast<int>(what.size()), what.data());
    if (!detail.empty()) std::fprintf(stderr, " [%.*s]", static_cast<int>(detail.size()), detail.data());
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
    __builtin_trap();
}

inline void require(bool condition, std::string_view what, std::string_view detail = {}) {
    if (!condition) fail(what, detail);
}

inline bool hasZeroAfterParenthesis(std::string_view line) {
    return line.find(std::string_view("(\0", 2)) != std::string_view::npos;
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return size == 0 ? std::string_view() : std::string_view(reinterpret_cast<const char*>(data), size);
}

inline bool isAsciiLetterOrDigit(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// One of the fixed messages a line can be rejected with. The message that
// quotes a zero byte after "(" reads cut short at that byte through what();
// lines hold no zero byte in the converter, which cuts them there first.
inline bool isTokenizerMessage(std::string_view message, bool zeroAfterParenthesis = false) {
    static constexpr std::string_view fixed[] = {
        "input 'd', 's', 'sd', 'w' to line bottom",
        "input 'd', 's', 'sd', 'w' follow '!'",
        "the format of color is #[0-9a-fA-F]{6}",
        "input symbol or number to line bottom",
        "input symbol or number",
        "not found ')'.",
        "invalid markup nest",
        "bad ruby format",
    };
    for (std::string_view text : fixed)
        if (message == text) return true;
    // The one message that quotes a byte: an ASCII byte after "(" that can
    // open neither a parenthesis nor a ruby group.
    constexpr std::string_view head = "unexpected character '";
    constexpr std::string_view tail = "' just after '('.";
    if (zeroAfterParenthesis && message == head) return true;
    if (message.size() != head.size() + 1 + tail.size()) return false;
    if (!message.starts_with(head) || !message.ends_with(tail)) return false;
    auto c = static_cast<unsigned char>(message[head.size()]);
    return c < 0x80 && !isAsciiLetterOrDigit(c) && c != '%' && c != '?';
}

// "k: message" with k a decimal line index below lineCount; sets index.
inline bool isIndexedTokenizerMessage(std::string_view message, std::size_t lineCount, std::size_t& index,
                                      bool zeroAfterParenthesis = false) {
    std::size_t colon = message.find(": ");
    if (colon == std::string_view::npos || colon == 0 || colon > 19) return false;
    std::string_view digits = message.substr(0, colon);
    if (digits.size() > 1 && digits[0] == '0') return false;
    std::size_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    if (value >= lineCount) return false;
    index = value;
    return isTokenizerMessage(message.substr(colon + 2), zeroAfterParenthesis);
}

// A small command table, so that the lookup after every symbol is exercised.
inline constexpr std::string_view sampleCommands =
    "goto,E\r\n"
    "gosub,E\n"
    "if,FE\n"
    "mov,FE\n"
    "add,FE\n"
    "end\n"
    "mesbox,E\n"
    "game,F\n"
    "numalias,F\n"
    "defsub,F\n"
    "_underscore\n";

}  // namespace fuzz
