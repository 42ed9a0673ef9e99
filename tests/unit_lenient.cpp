// The lenient tokenizer: where a rule fails, its first byte becomes an ASCII
// token and cutting goes on; the strict one raises TokenError at the same place.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "nscr/token.h"
#include "unit_support.h"

namespace {

using nscr::TokenType;
using enum nscr::TokenType;

const std::string controlAtEnd = "input 'd', 's', 'sd', 'w' to line bottom";
const std::string controlWord = "input 'd', 's', 'sd', 'w' follow '!'";
const std::string color = "the format of color is #[0-9a-fA-F]{6}";
const std::string variableAtEnd = "input symbol or number to line bottom";
const std::string variable = "input symbol or number";
const std::string parenAtEnd = "not found ')'.";
const std::string markupNest = "invalid markup nest";
const std::string badRuby = "bad ruby format";

std::string unexpected(char c) { return std::string("unexpected character '") + c + "' just after '('."; }

using Fault = std::pair<std::size_t, std::string>;

struct CollectingSink final : nscr::TokenFaultSink {
    std::vector<Fault> faults;
    void recovered(const nscr::TokenFault& fault) override { faults.emplace_back(fault.column, fault.message); }
};

struct CountingSink final : nscr::TokenFaultSink {
    std::size_t count = 0;
    nscr::TokenFault last;
    void recovered(const nscr::TokenFault& fault) override {
        ++count;
        last = fault;
    }
};

std::string show(const nscr::TokenLine& tokens) { return unit::showTokens(tokens); }

struct Tok {
    std::string_view text;
    TokenType type;
};

std::string show(const std::vector<Tok>& tokens) {
    nscr::TokenLine line;
    for (const Tok& t : tokens) line.emplace_back(t.text, t.type);
    return show(line);
}

// The strict tokenizer's fault on a line: column and message, or nothing.
std::vector<Fault> strictFault(std::string_view line) {
    try {
        nscr::parseToToken(line);
    } catch (const nscr::TokenError& error) {
        EXPECT_EQ(std::string_view(error.what()), error.message());
        return {{error.column(), std::string(error.message())}};
    }
    return {};
}

class Lenient : public ::testing::Test {
protected:
    void SetUp() override {
        nscr::reservedCommands.clear();
        nscr::loadReservedCommandsFromText("goto,E");
    }
    void TearDown() override { nscr::reservedCommands.clear(); }
};

// Each row: the lenient tokens (their texts joined are the line) and the faults.
TEST_F(Lenient, RecoveredLinesByMessage) {
    struct Row {
        std::vector<Tok> tokens;
        std::vector<Fault> faults;
    };
    const std::vector<Row> rows = {
        // "!" at the end, and words that are no text control
        {{{"`", ASCII}, {"FAIL", SYMBOL}, {"!", ASCII}, {"!", ASCII}, {"!", ASCII}},
         {{5, controlWord}, {6, controlWord}, {7, controlAtEnd}}},
        {{{" ", SPACE}, {"!", ASCII}}, {{1, controlAtEnd}}},
        {{{"!s", SPECIAL_CHARACTER}, {"!", ASCII}}, {{2, controlAtEnd}}},
        {{{"!", ASCII}, {"sd100", SYMBOL}}, {{0, controlWord}}},
        {{{"!d100", SPECIAL_CHARACTER}}, {}},
        {{{"!", ASCII}, {"goto", EXECUTE_COMMAND}}, {{0, controlWord}}},
        {{{"!", ASCII}, {"あ", STRING}}, {{0, controlWord}}},
        // colours
        {{{"#", ASCII}, {"1", NUMBER}}, {{0, color}}},
        {{{"#", ASCII}, {"1234567", NUMBER}}, {{0, color}}},
        {{{"a", SYMBOL}, {"#", ASCII}}, {{1, color}}},
        // variables
        {{{"%", ASCII}}, {{0, variableAtEnd}}},
        {{{"%", ASCII}, {"%", ASCII}}, {{0, variableAtEnd}, {1, variableAtEnd}}},
        {{{"%", ASCII}, {"?", ASCII}}, {{0, variable}, {1, variableAtEnd}}},
        {{{"$", ASCII}, {"「", STRING}}, {{0, variable}}},
        {{{"う", STRING}, {"?", ASCII}, {"ん", STRING}}, {{3, variable}}},
        {{{"?", ASCII}, {"?0", ARRAY_VARIABLE}}, {{0, variable}}},
        // parentheses
        {{{"a", SYMBOL}, {"(", ASCII}}, {{1, parenAtEnd}}},
        {{{"(", ASCII}, {"-", OPERATOR}, {"1", NUMBER}, {")", PARENTHESIS_END}}, {{0, unexpected('-')}}},
        {{{"(", ASCII}, {"(", ASCII}, {" ", SPACE}, {"1", NUMBER}, {")", PARENTHESIS_END}, {")", PARENTHESIS_END}},
         {{0, unexpected('(')}, {1, unexpected(' ')}}},
        {{{"(", ASCII}, {"漢字", STRING}, {" ", SPACE}, {"1", NUMBER}, {")", PARENTHESIS_END}}, {{0, badRuby}}},
        {{{"(", ASCII}, {"漢字", STRING}}, {{0, badRuby}}},
        // markup nest, and the recovered byte ends the line top
        {{{"[", ASCII}, {"a", SYMBOL}, {"[", BRACKET_BEGIN}, {"b", SYMBOL}, {"]", BRACKET_END}}, {{0, markupNest}}},
        {{{"\t", SPACE}, {"[", ASCII}, {"[", BRACKET_BEGIN}}, {{1, markupNest}}},
        {{{"#", ASCII}, {"*a", GENERIC_LABEL}}, {{0, color}}},
        {{{"!", ASCII}, {"[", BRACKET_BEGIN}, {"x", SYMBOL}, {"]", BRACKET_END}}, {{0, controlWord}}},
        // accepted lines: no fault
        {{{"!w500", SPECIAL_CHARACTER}, {"#ffffff", COLOR}, {"(薔薇/バラ)", RUBY}}, {}},
    };
    for (const Row& row : rows) {
        std::string line;
        for (const Tok& t : row.tokens) line += t.text;
        SCOPED_TRACE(line);
        CollectingSink sink;
        EXPECT_EQ(show(nscr::parseToToken(line, sink)), show(row.tokens));
        EXPECT_EQ(sink.faults, row.faults);
        // Strict stops at the first of them, with the same column and message.
        std::vector<Fault> first(row.faults.begin(), row.faults.begin() + (row.faults.empty() ? 0 : 1));
        EXPECT_EQ(strictFault(line), first);
    }
}

// The composed message quotes the byte after "(", for every ASCII byte it can be.
TEST_F(Lenient, UnexpectedCharacterMessageForEveryByte) {
    for (int c = 1; c < 0x80; ++c) {
        const auto byte = static_cast<char>(c);
        if (nscr::isLetter(static_cast<unsigned char>(c)) || nscr::isDigit(static_cast<unsigned char>(c)) ||
            byte == '%' || byte == '?')
            continue;
        const std::string line = std::string("(") + byte + "x";
        SCOPED_TRACE(c);
        CollectingSink sink;
        nscr::parseToToken(line, sink);
        ASSERT_FALSE(sink.faults.empty());
        EXPECT_EQ(sink.faults.front(), Fault(0, unexpected(byte)));
        EXPECT_EQ(strictFault(line), std::vector<Fault>{sink.faults.front()});
        EXPECT_EQ(unit::errorOf([&] { nscr::isRuby(line, 0); }), unexpected(byte));
    }
}

// A TokenError is still an Error with the bare message, for every caller that catches those.
TEST_F(Lenient, StrictErrorIsAnError) {
    EXPECT_EQ(unit::errorOf([] { nscr::parseToToken("a #fff"); }), color);
    std::vector<std::string> lines = {"a", "$"};
    EXPECT_EQ(unit::errorOf([&] { nscr::parseToToken(lines); }), "1: " + variableAtEnd);
}

// Batches end anywhere, also right after a recovered byte: the tokens and
// faults are those of the whole line.
TEST_F(Lenient, BatchesGiveTheWholeLine) {
    for (std::string_view line : {"`FAIL!!!", "![x]", "#*a", " [[a]", "う?ん(-1)%"}) {
        CollectingSink whole;
        const std::string want = show(nscr::parseToToken(line, whole));
        for (std::size_t most = 1; most <= 3; ++most) {
            SCOPED_TRACE(std::string(line) + " in batches of " + std::to_string(most));
            CollectingSink sink;
            nscr::TokenCutter cutter(line, &sink);
            nscr::TokenLine batch, all;
            while (cutter.cutNext(batch, most)) {
                EXPECT_LE(batch.size(), most);
                all.insert(all.end(), batch.begin(), batch.end());
            }
            EXPECT_EQ(show(all), want);
            EXPECT_EQ(sink.faults, whole.faults);
        }
    }
}

// Random lines of dispatch bytes, letters, digits, blanks and UTF-8 text.
TEST_F(Lenient, RandomLinesRecoverWhereStrictFails) {
    const std::vector<std::string_view> pieces = {
        "\t", " ", "!", "\"", "#", "$", "%", "&", "(", ")", "*", "+", "-", "/", ":", ";", "<", "=", "?", "@",
        "[", "\\", "]", "_", "0", "7", "a", "Z", "d", "s", "w", "f", ">", "`", "あ", "漢字", "「", "！", "é",
    };
    unit::Random random{20240917};
    int rejected = 0;
    for (int n = 0; n < 5000; ++n) {
        std::string line;
        for (std::size_t k = random.below(14); k > 0; --k) line += pieces[random.below(pieces.size())];
        SCOPED_TRACE(line);
        CollectingSink sink;
        nscr::TokenLine tokens;
        EXPECT_NO_THROW(tokens = nscr::parseToToken(line, sink));

        std::string joined;
        std::size_t fault = 0;
        for (const nscr::Token& t : tokens) {
            ASSERT_FALSE(t.text.empty());
            // Every fault stands on the start of a one-byte ASCII token.
            if (fault < sink.faults.size() && sink.faults[fault].first == joined.size()) {
                EXPECT_EQ(t.type, ASCII);
                EXPECT_EQ(t.text.size(), 1u);
                ++fault;
            }
            joined += t.text;
        }
        EXPECT_EQ(fault, sink.faults.size());
        EXPECT_EQ(joined, line);

        std::vector<Fault> strict = strictFault(line);
        if (strict.empty()) {
            EXPECT_TRUE(sink.faults.empty());
            EXPECT_EQ(show(tokens), show(nscr::parseToToken(line)));
        } else {
            ++rejected;
            ASSERT_FALSE(sink.faults.empty());
            EXPECT_EQ(strict.front(), sink.faults.front());
        }
    }
    EXPECT_GT(rejected, 1000);
    EXPECT_LT(rejected, 4500);
}

// Millions of faults on one line: one sink call each, no token held beyond a batch.
TEST_F(Lenient, LongLineOfFaultsIsLinear) {
    std::string line;
    for (int k = 0; k < 1000000; ++k) line += "!?";
    CountingSink sink;
    nscr::TokenCutter cutter(line, &sink);
    nscr::TokenLine batch;
    std::size_t tokens = 0, ascii = 0;
    while (cutter.cutNext(batch, 4096))
        for (const nscr::Token& t : batch) {
            ++tokens;
            ascii += t.type == ASCII && t.text.size() == 1;
        }
    EXPECT_EQ(tokens, 2000000u);
    EXPECT_EQ(ascii, 2000000u);
    EXPECT_EQ(sink.count, 2000000u);
    EXPECT_EQ(sink.last.column, line.size() - 1);
    EXPECT_EQ(sink.last.message, variableAtEnd);
}

}  // namespace
