// token_selfcheck: runs the tokenizer over a fixed set of sample lines with an
// empty reserved command table and stops at the first mismatch.

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>

#include "nscr/error.h"
#include "nscr/token.h"

namespace {

// Unlike assert, this check stays in Release builds.
#define SELFCHECK(condition)                                                                              \
    do {                                                                                                  \
        if (!(condition)) {                                                                               \
            std::fprintf(stderr, "\nAssertion failed: %s, file %s, line %d\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                                 \
        }                                                                                                 \
    } while (false)

using nscr::Token;
using nscr::TokenType;
using T = TokenType;

struct Expected {
    std::string_view text;
    TokenType type;
};

// The line tokenizes into exactly these tokens.
void checkTokens(std::string_view line, std::initializer_list<Expected> expected) {
    nscr::TokenLine tokens = nscr::parseToToken(line);
    SELFCHECK(tokens.size() == expected.size());
    std::size_t i = 0;
    for (const Expected& want : expected) {
        SELFCHECK(tokens[i].text == want.text);
        SELFCHECK(tokens[i].type == want.type);
        ++i;
    }
}

void checkSingle(std::string_view line, TokenType type) { checkTokens(line, {{line, type}}); }

std::string errorOf(std::string_view line) {
    try {
        nscr::parseToToken(line);
    } catch (const nscr::Error& error) {
        return error.what();
    }
    return "(accepted)";
}

void checkRejected(std::string_view line, std::string_view message) { SELFCHECK(errorOf(line) == message); }

template <typename Predicate>
std::string predicateError(Predicate predicate) {
    try {
        predicate();
    } catch (const nscr::Error& error) {
        return error.what();
    }
    return "(no error)";
}

void checkAcceptedLines() {
    checkTokens("if %0=0 goto *text_end", {{"if", T::SYMBOL}, {" ", T::SPACE}, {"%0", T::NUMBER_VARIABLE},
                                           {"=", T::OPERATOR}, {"0", T::NUMBER}, {" ", T::SPACE},
                                           {"goto", T::SYMBOL}, {" ", T::SPACE}, {"*text_end", T::GENERIC_LABEL}});
    checkTokens("if %flag_len<1 mesbox \"sflag: invalid length\",\"ASSERT!\":end",
                {{"if", T::SYMBOL}, {" ", T::SPACE}, {"%flag_len", T::NUMBER_VARIABLE}, {"<", T::OPERATOR},
                 {"1", T::NUMBER}, {" ", T::SPACE}, {"mesbox", T::SYMBOL}, {" ", T::SPACE},
                 {"\"sflag: invalid length\"", T::LITERAL}, {",", T::ASCII}, {"\"ASSERT!\"", T::LITERAL},
                 {":", T::OPERATOR}, {"end", T::SYMBOL}});
    checkTokens("(27+1)", {{"(", T::PARENTHESIS_BEGIN}, {"27", T::NUMBER}, {"+", T::OPERATOR}, {"1", T::NUMBER},
                           {")", T::PARENTHESIS_END}});
    checkSingle("(瑠微/ルビ)", T::RUBY);
    checkSingle("(薔薇/バラ)", T::RUBY);
    checkTokens("?array[?array[0]]", {{"?array", T::ARRAY_VARIABLE}, {"[", T::BRACKET_BEGIN},
                                      {"?array", T::ARRAY_VARIABLE}, {"[", T::BRACKET_BEGIN}, {"0", T::NUMBER},
                                      {"]", T::BRACKET_END}, {"]", T::BRACKET_END}});
    checkTokens("$?0[0]", {{"$?0", T::STRING_VARIABLE}, {"[", T::BRACKET_BEGIN}, {"0", T::NUMBER},
                           {"]", T::BRACKET_END}});
    checkTokens("%?0[0]", {{"%?0", T::NUMBER_VARIABLE}, {"[", T::BRACKET_BEGIN}, {"0", T::NUMBER},
                           {"]", T::BRACKET_END}});
    checkSingle("[タグ]", T::TAG);
    checkTokens("[タグ]「よう、$F111！_」", {{"[タグ]", T::TAG}, {"「よう、", T::STRING}, {"$F111", T::STRING_VARIABLE},
                                           {"！", T::STRING}, {"_", T::SPECIAL_CHARACTER}, {"」", T::STRING}});
    checkSingle("<テキストボタン>", T::TEXT_BUTTON);
    checkSingle("<5テキストボタン>", T::TEXT_BUTTON);
    checkSingle("<10テキストボタン>", T::TEXT_BUTTON);
    for (std::string_view label : {"*define", "*start", "*customsel"}) checkSingle(label, T::SPECIAL_LABEL);
    for (std::string_view label : {"*linetop", "*l", "*Start", "*started", "*"}) checkSingle(label, T::LINETOP_LABEL);
    checkTokens("  *start", {{"  ", T::SPACE}, {"*start", T::SPECIAL_LABEL}});
    checkTokens("goto *start", {{"goto", T::SYMBOL}, {" ", T::SPACE}, {"*start", T::GENERIC_LABEL}});
    checkTokens("gosub *", {{"gosub", T::SYMBOL}, {" ", T::SPACE}, {"*", T::GENERIC_LABEL}});
    checkTokens("**", {{"*", T::OPERATOR}, {"*", T::GENERIC_LABEL}});
    checkSingle("適当な文字列", T::STRING);
    for (std::string_view blanks : {" ", "    ", "\t", " \t "}) checkSingle(blanks, T::SPACE);
    checkSingle(";comment", T::COMMENT);
    checkSingle(";; comment $var %var\"\"", T::COMMENT);
    checkSingle("\"literal\"", T::LITERAL);
    checkSingle("\";; comment $var %var\"", T::LITERAL);
    for (std::string_view v : {"%var", "%%var", "%0", "%%0"}) checkSingle(v, T::NUMBER_VARIABLE);
    for (std::string_view v : {"$var", "$%var", "$0", "$%0"}) checkSingle(v, T::STRING_VARIABLE);
    for (std::string_view v : {"?var", "?%var", "?0", "?%0"}) checkSingle(v, T::ARRAY_VARIABLE);
    for (std::string_view c : {"#ffffff", "#09af15"}) checkSingle(c, T::COLOR);
    for (std::string_view n : {"1", "1234567890"}) checkSingle(n, T::NUMBER);
    for (std::string_view s : {"a", "_aA0"}) checkSingle(s, T::SYMBOL);
    for (std::string_view s : {"!s", "!d", "!w", "!sd", "/", "!d100", "!s0", "!w500"})
        checkSingle(s, T::SPECIAL_CHARACTER);
    for (std::string_view s : {"+", "-"}) checkSingle(s, T::OPERATOR);
    checkTokens("/2", {{"/", T::OPERATOR}, {"2", T::NUMBER}});
    checkTokens("if $ut_testcaselist!=\"\" add $%ut_testfixture,TESTCASE_SEPARATOR",
                {{"if", T::SYMBOL}, {" ", T::SPACE}, {"$ut_testcaselist", T::STRING_VARIABLE}, {"!=", T::OPERATOR},
                 {"\"\"", T::LITERAL}, {" ", T::SPACE}, {"add", T::SYMBOL}, {" ", T::SPACE},
                 {"$%ut_testfixture", T::STRING_VARIABLE}, {",", T::ASCII}, {"TESTCASE_SEPARATOR", T::SYMBOL}});
    checkTokens("", {});
    checkSingle("[abc", T::TAG);
    checkTokens("a[b]", {{"a", T::SYMBOL}, {"[", T::BRACKET_BEGIN}, {"b", T::SYMBOL}, {"]", T::BRACKET_END}});
    checkTokens("a<", {{"a", T::SYMBOL}, {"<", T::OPERATOR}});
    checkSingle("<>", T::TEXT_BUTTON);
    checkTokens("%a>1", {{"%a", T::NUMBER_VARIABLE}, {">", T::ASCII}, {"1", T::NUMBER}});
    checkTokens("#ffffffx", {{"#ffffff", T::COLOR}, {"x", T::SYMBOL}});
}

void checkRejectedLines() {
    checkRejected("!", "input 'd', 's', 'sd', 'w' to line bottom");
    for (std::string_view line : {"!x", "!w500x", "!sd100"}) checkRejected(line, "input 'd', 's', 'sd', 'w' follow '!'");
    for (std::string_view line : {"#fff", "#1234567", "#"}) checkRejected(line, "the format of color is #[0-9a-fA-F]{6}");
    for (std::string_view line : {"%", "$", "%%", "?"}) checkRejected(line, "input symbol or number to line bottom");
    checkRejected("(", "not found ')'.");
    checkRejected("(-1)", "unexpected character '-' just after '('.");
    checkRejected("[a[b]", "invalid markup nest");
    checkRejected("%?", "input symbol or number");

    bool raised = false;
    try {
        nscr::parseToToken(std::vector<std::string>{"a", "b", "("});
    } catch (const nscr::Error& error) {
        raised = true;
        SELFCHECK(std::string_view(error.what()) == "2: not found ')'.");
    }
    SELFCHECK(raised);
}

void checkPredicates() {
    for (unsigned char c : {'a', 'n', 'z', 'A', 'N', 'Z', '_'}) SELFCHECK(nscr::isSymbolHead(c) && nscr::isSymbolChar(c));
    SELFCHECK(!nscr::isSymbolHead('0'));
    SELFCHECK(nscr::isSymbolChar('0') && nscr::isSymbolChar('9'));
    for (int c = 0x80; c <= 0xFF; ++c) {
        SELFCHECK(!nscr::isSymbolHead(static_cast<unsigned char>(c)));
        SELFCHECK(!nscr::isSymbolChar(static_cast<unsigned char>(c)));
    }
    SELFCHECK(nscr::isRuby("(薔薇/バラ)", 0));
    SELFCHECK(!nscr::isRuby("(27+1)", 0));
    SELFCHECK(!nscr::isRuby("(%1+2)", 0));
    SELFCHECK(!nscr::isRuby("(漢字/かんじ", 0));
    SELFCHECK(predicateError([] { nscr::isRuby("( 1)", 0); }) == "unexpected character ' ' just after '('.");
    SELFCHECK(predicateError([] { nscr::isRuby("(_a)", 0); }) == "unexpected character '_' just after '('.");
    SELFCHECK(predicateError([] { nscr::isRuby("(漢字 1)", 0); }) == "bad ruby format");
    SELFCHECK(nscr::isTextButton("<テキストボタン>", 0));
    SELFCHECK(nscr::isTextButton("<10テキストボタン>", 0));
    SELFCHECK(!nscr::isTextButton("if %0<10 return", 5));
    SELFCHECK(!nscr::isTextButton("if %0<10 && %1>9 return", 5));
    SELFCHECK(nscr::isTextButton("<>", 0));
    SELFCHECK(!nscr::isTextButton("a<", 1));
}

}  // namespace

int main() {
    std::fputs("parseToToken test...", stdout);
    std::fflush(stdout);
    checkAcceptedLines();
    checkRejectedLines();
    checkPredicates();
    std::puts("passed");
    return 0;
}
