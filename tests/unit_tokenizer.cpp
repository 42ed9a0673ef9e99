#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "nscr/token.h"
#include "unit_support.h"

namespace {

using nscr::TokenType;
using enum nscr::TokenType;

struct Tok {
    std::string_view text;
    TokenType type;
};

std::string show(const std::vector<Tok>& tokens) { return unit::showTokens(tokens); }
std::string show(const nscr::TokenLine& tokens) { return unit::showTokens(tokens); }

class Tokenizer : public ::testing::Test {
protected:
    void SetUp() override { nscr::reservedCommands.clear(); }
};

// Each row is a line given as its expected tokens: the line is their texts joined.
TEST_F(Tokenizer, AcceptedLinesByDispatchRule) {
    const std::vector<std::vector<Tok>> rows = {
        // blanks and TABs: one run
        {{" \t ", SPACE}}, {{"a", SYMBOL}, {" \t", SPACE}, {"b", SYMBOL}},
        // "!": "!=", the four words, words with a number
        {{"a", SYMBOL}, {"!=", OPERATOR}, {"b", SYMBOL}}, {{"!d", SPECIAL_CHARACTER}}, {{"!w", SPECIAL_CHARACTER}},
        {{"!sd", SPECIAL_CHARACTER}}, {{"!s", SPECIAL_CHARACTER}, {" ", SPACE}},
        {{"!s", SPECIAL_CHARACTER}, {"あ", STRING}},
        {{"!w500", SPECIAL_CHARACTER}}, {{"!d1000", SPECIAL_CHARACTER}}, {{"!s0", SPECIAL_CHARACTER}, {"「", STRING}},
        // literals: no escape, ";" is text, unclosed runs to the end
        {{"\"a;b $v\"", LITERAL}, {"x", SYMBOL}}, {{"\"\"", LITERAL}}, {{"\"abc", LITERAL}},
        // colours
        {{"#ffffff", COLOR}}, {{"#09AF15", COLOR}}, {{"#ffffff", COLOR}, {"x", SYMBOL}},
        // variables
        {{"%var", NUMBER_VARIABLE}}, {{"%%var", NUMBER_VARIABLE}}, {{"%0", NUMBER_VARIABLE}},
        {{"%%0", NUMBER_VARIABLE}},
        {{"%?0", NUMBER_VARIABLE}, {"[", BRACKET_BEGIN}, {"0", NUMBER}, {"]", BRACKET_END}},
        {{"$var", STRING_VARIABLE}}, {{"$%var", STRING_VARIABLE}}, {{"$?0", STRING_VARIABLE}},
        {{"?var", ARRAY_VARIABLE}}, {{"?%0", ARRAY_VARIABLE}}, {{"%a", NUMBER_VARIABLE}, {">", ASCII}, {"1", NUMBER}},
        {{"?array", ARRAY_VARIABLE}, {"[", BRACKET_BEGIN}, {"?array", ARRAY_VARIABLE}, {"[", BRACKET_BEGIN},
         {"0", NUMBER}, {"]", BRACKET_END}, {"]", BRACKET_END}},
        // one-byte operators
        {{"&", OPERATOR}, {"+", OPERATOR}, {"-", OPERATOR}, {":", OPERATOR}, {"=", OPERATOR}},
        // "(": parenthesis or ruby
        {{"(", PARENTHESIS_BEGIN}, {"27", NUMBER}, {"+", OPERATOR}, {"1", NUMBER}, {")", PARENTHESIS_END}},
        {{"(", PARENTHESIS_BEGIN}, {"a", SYMBOL}, {")", PARENTHESIS_END}},
        {{"(", PARENTHESIS_BEGIN}, {"%1", NUMBER_VARIABLE}, {")", PARENTHESIS_END}},
        {{"(", PARENTHESIS_BEGIN}, {"?0", ARRAY_VARIABLE}, {")", PARENTHESIS_END}},
        {{"(薔薇/バラ)", RUBY}}, {{"(漢字/)", RUBY}, {"x", SYMBOL}},
        {{"(", PARENTHESIS_BEGIN}, {"漢字", STRING}, {"/", OPERATOR}, {"かんじ", STRING}},
        {{"(", PARENTHESIS_BEGIN}, {"漢", STRING}, {"/", OPERATOR}, {"x", SYMBOL}, {")", PARENTHESIS_END}},
        // "*": labels, line top, operator
        {{"*", LINETOP_LABEL}}, {{"\t", SPACE}, {"*", LINETOP_LABEL}},
        {{"gosub", SYMBOL}, {" ", SPACE}, {"*", GENERIC_LABEL}},
        {{"*", OPERATOR}, {"*", GENERIC_LABEL}}, {{"*start", SPECIAL_LABEL}}, {{"*define", SPECIAL_LABEL}},
        {{"*customsel", SPECIAL_LABEL}}, {{"  ", SPACE}, {"*start", SPECIAL_LABEL}}, {{"*Start", LINETOP_LABEL}},
        {{"*started", LINETOP_LABEL}}, {{"*l", LINETOP_LABEL}}, {{"*_a1", LINETOP_LABEL}, {"+", OPERATOR}},
        {{"goto", SYMBOL}, {" ", SPACE}, {"*start", GENERIC_LABEL}}, {{"*", OPERATOR}, {"1", NUMBER}},
        {{"*", OPERATOR}, {" ", SPACE}, {"a", SYMBOL}},
        // "/"
        {{"/", SPECIAL_CHARACTER}}, {{"/", OPERATOR}, {"2", NUMBER}}, {{"a", SYMBOL}, {"/", SPECIAL_CHARACTER}},
        // ";" to the end
        {{";; comment $var %var \"\"", COMMENT}}, {{"a", SYMBOL}, {";(", COMMENT}},
        // "<": text button or operator
        {{"<テキストボタン>", TEXT_BUTTON}}, {{"<10テキストボタン>", TEXT_BUTTON}}, {{"<>", TEXT_BUTTON}},
        {{"<5>", TEXT_BUTTON}}, {{"a", SYMBOL}, {"<", OPERATOR}},
        {{"<", OPERATOR}, {"10", NUMBER}, {" ", SPACE}, {"a", SYMBOL}, {">", ASCII}},
        {{"<", OPERATOR}, {"あ", STRING}, {"1", NUMBER}, {">", ASCII}},
        // at sign, backslash
        {{"@", SPECIAL_CHARACTER}, {"\\", SPECIAL_CHARACTER}},
        // "[": tag at the line top only
        {{"[タグ]", TAG}}, {{"[abc", TAG}}, {{" ", SPACE}, {"[a]", TAG}},
        {{"[a]", TAG}, {"[", BRACKET_BEGIN}, {"]", BRACKET_END}},
        {{"a", SYMBOL}, {"[", BRACKET_BEGIN}, {"0", NUMBER}, {"]", BRACKET_END}}, {{"]", BRACKET_END}},
        // "_": symbol or special character
        {{"_aA0", SYMBOL}}, {{"__", SYMBOL}}, {{"_", SPECIAL_CHARACTER}}, {{"_", SPECIAL_CHARACTER}, {"あ", STRING}},
        {{"_", SPECIAL_CHARACTER}, {" ", SPACE}},
        // default rule: digits, letters, other ASCII, non-ASCII runs
        {{"1234567890", NUMBER}}, {{"12", NUMBER}, {"ab_1", SYMBOL}}, {{"適当な文字列", STRING}},
        {{">", ASCII}, {",", ASCII}, {".", ASCII}, {"'", ASCII}, {"{", ASCII}, {"}", ASCII}, {"|", ASCII},
         {"^", ASCII}, {"~", ASCII}, {"`", ASCII}, {"\x01", ASCII}, {"\x7f", ASCII}},
        // whole lines
        {{"if", SYMBOL}, {" ", SPACE}, {"%0", NUMBER_VARIABLE}, {"=", OPERATOR}, {"0", NUMBER}, {" ", SPACE},
         {"goto", SYMBOL}, {" ", SPACE}, {"*text_end", GENERIC_LABEL}},
        {{"if", SYMBOL}, {" ", SPACE}, {"%flag_len", NUMBER_VARIABLE}, {"<", OPERATOR}, {"1", NUMBER}, {" ", SPACE},
         {"mesbox", SYMBOL}, {" ", SPACE}, {"\"sflag: invalid length\"", LITERAL}, {",", ASCII},
         {"\"ASSERT!\"", LITERAL}, {":", OPERATOR}, {"end", SYMBOL}},
        {{"if", SYMBOL}, {" ", SPACE}, {"$ut_testcaselist", STRING_VARIABLE}, {"!=", OPERATOR}, {"\"\"", LITERAL},
         {" ", SPACE}, {"add", SYMBOL}, {" ", SPACE}, {"$%ut_testfixture", STRING_VARIABLE}, {",", ASCII},
         {"TESTCASE_SEPARATOR", SYMBOL}},
        {{"[タグ]", TAG}, {"「よう、", STRING}, {"$F111", STRING_VARIABLE}, {"！", STRING}, {"_", SPECIAL_CHARACTER},
         {"」", STRING}},
    };
    for (const auto& row : rows) {
        std::string line;
        for (const Tok& t : row) line += t.text;
        SCOPED_TRACE(line);
        EXPECT_EQ(show(nscr::parseToToken(line)), show(row));
    }
    EXPECT_TRUE(nscr::parseToToken("").empty());
}

TEST_F(Tokenizer, RejectedLinesCarryTheirMessage) {
    const std::string control = "input 'd', 's', 'sd', 'w' follow '!'";
    const std::string color = "the format of color is #[0-9a-fA-F]{6}";
    const std::string atEnd = "input symbol or number to line bottom";
    const std::string variable = "input symbol or number";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"a !", "input 'd', 's', 'sd', 'w' to line bottom"},
        {"!x", control}, {"!sd100", control}, {"!w500x", control}, {"!D", control}, {"! ", control},
        {"!5", control}, {"!d_", control}, {"!あ", control}, {"!!", control},
        {"#", color}, {"#fff", color}, {"#1234567", color}, {"#12345g", color}, {"a #", color},
        {"%", atEnd}, {"$", atEnd}, {"?", atEnd}, {"%%", atEnd}, {"$%", atEnd}, {"a ?%", atEnd},
        {"%?", variable}, {"$?", variable}, {"%+1", variable}, {"$「", variable}, {"%%%0", variable},
        {"??0", variable}, {"?\?", variable}, {"$%%0", variable}, {"% ", variable},
        {"a(", "not found ')'."},
        {"(-1)", "unexpected character '-' just after '('."}, {"( 1)", "unexpected character ' ' just after '('."},
        {"(_a)", "unexpected character '_' just after '('."}, {"((1))", "unexpected character '(' just after '('."},
        {"(漢字 1)", "bad ruby format"}, {"(漢字", "bad ruby format"}, {"(漢(字/じ)", "bad ruby format"},
        {"[a[b]", "invalid markup nest"}, {" [[", "invalid markup nest"},
    };
    for (const auto& [line, message] : rows)
        EXPECT_EQ(unit::errorOf([&] { nscr::parseToToken(line); }), message) << line;
}

TEST_F(Tokenizer, AllLinesFormPrefixesTheZeroBasedIndex) {
    std::vector<std::string> lines = {"a", "", "(", "#"};
    EXPECT_EQ(unit::errorOf([&] { nscr::parseToToken(lines); }), "2: not found ')'.");
    lines = {"a b", "", "*x"};
    auto result = nscr::parseToToken(lines);
    ASSERT_EQ(result.size(), 3u);
    EXPECT_EQ(result[0].size(), 3u);
    EXPECT_TRUE(result[1].empty());
    EXPECT_TRUE(nscr::parseToToken(std::vector<std::string>{}).empty());
    EXPECT_EQ(nscr::lineErrorMessage(12345, "m"), "12345: m");
}

using Scanner = std::string_view (*)(std::string_view, std::size_t&);

// The lexeme, and the position left on its last byte.
TEST_F(Tokenizer, ScannersStopOnTheLastByteOfTheLexeme) {
    struct Row {
        Scanner scan;
        std::string_view line;
        std::size_t start;
        std::string_view lexeme;
        std::size_t end;
    };
    const Scanner sp = nscr::scanSpaces, sy = nscr::scanSymbol, nu = nscr::scanNumber, hx = nscr::scanHexDigits,
                  mb = nscr::scanMultibyte, li = nscr::scanLiteral, nv = nscr::scanNumberVariable,
                  sv = nscr::scanStringVariable, av = nscr::scanArrayVariable;
    const Scanner paren = [](std::string_view l, std::size_t& p) { return nscr::scanMarkup(l, p, '(', ')'); };
    const Scanner tag = [](std::string_view l, std::size_t& p) { return nscr::scanMarkup(l, p, '[', ']'); };
    const Scanner button = [](std::string_view l, std::size_t& p) { return nscr::scanMarkup(l, p, '<', '>'); };
    const std::vector<Row> rows = {
        {sp, " \t x", 0, " \t ", 2}, {sp, "    ", 0, "    ", 3}, {sp, "a\tb", 1, "\t", 1},
        {sy, "_aA0+", 0, "_aA0", 3}, {sy, "!9a b", 1, "9a", 2}, {sy, "-", 0, "-", 0},
        {nu, "1234567890", 0, "1234567890", 9}, {nu, "12a", 0, "12", 1},
        {hx, "#09af15", 1, "09af15", 6}, {hx, "#12345g", 1, "12345", 5}, {hx, "#g", 1, "", 0}, {hx, "#", 1, "", 0},
        {mb, "「よう、$F111", 0, "「よう、", 11}, {mb, "適当", 0, "適当", 5},
        {li, "\"literal\"", 0, "\"literal\"", 8}, {li, "\";; c $v\"x", 0, "\";; c $v\"", 8},
        {li, "\"abc", 0, "\"abc", 3}, {li, "\"", 0, "\"", 0},
        {paren, "(瑠微/ルビ)", 0, "(瑠微/ルビ)", 14}, {tag, "[タグ]x", 0, "[タグ]", 7}, {tag, "[abc", 0, "[abc", 3},
        {tag, "[", 0, "[", 0}, {button, "<5テキストボタン>", 0, "<5テキストボタン>", 23},
        {nv, "%var+", 0, "%var", 3}, {nv, "%%var", 0, "%%var", 4}, {nv, "%?0[0]", 0, "%?0", 2},
        {nv, "a=%12", 2, "%12", 4},
        {sv, "$?0[0]", 0, "$?0", 2}, {sv, "$ut_testcaselist!=", 0, "$ut_testcaselist", 15},
        {sv, "$F111！", 0, "$F111", 4}, {sv, "$%0", 0, "$%0", 2}, {av, "?%var", 0, "?%var", 4},
        {av, "?0]", 0, "?0", 1},
    };
    for (const Row& row : rows) {
        std::size_t pos = row.start;
        EXPECT_EQ(row.scan(row.line, pos), row.lexeme) << row.line;
        EXPECT_EQ(pos, row.end) << row.line;
    }
}

// Runs of text are scanned many bytes at a time: the run ends exactly at
// the first byte below 0x80, or at the end of the line, for every length.
TEST_F(Tokenizer, MultibyteRunsOfEveryLength) {
    for (std::size_t length = 1; length <= 40; ++length)
        for (std::string_view after : {"", "a", "\x7f\x82"}) {
            std::string line(1, 'x');
            line.append(length, '\xe3');
            line += after;
            std::size_t pos = 1;
            EXPECT_EQ(nscr::scanMultibyte(line, pos).size(), length) << length;
            EXPECT_EQ(pos, length) << length;
        }
}

TEST_F(Tokenizer, Predicates) {
    const std::vector<std::tuple<std::string_view, std::size_t, std::string>> ruby = {
        {"(薔薇/バラ)", 0, "true"}, {"(27+1)", 0, "false"}, {"(%1+2)", 0, "false"}, {"(?0)", 0, "false"},
        {"(漢字/かんじ", 0, "false"}, {"(漢字/x)", 0, "false"}, {"a(あ/)", 1, "true"},
        {"( 1)", 0, "unexpected character ' ' just after '('."},
        {"(_a)", 0, "unexpected character '_' just after '('."}, {"(漢字 1)", 0, "bad ruby format"},
        {"(漢字", 0, "bad ruby format"},
    };
    for (const auto& [line, pos, want] : ruby) {
        std::string got;
        std::string error = unit::errorOf([&] { got = nscr::isRuby(line, pos) ? "true" : "false"; });
        EXPECT_EQ(got.empty() ? error : got, want) << line;
    }
    const std::vector<std::tuple<std::string_view, std::size_t, bool>> buttons = {
        {"<テキストボタン>", 0, true}, {"<10テキストボタン>", 0, true}, {"<>", 0, true}, {"<12>", 0, true},
        {"if %0<10 return", 5, false}, {"if %0<10 && %1>9 return", 5, false}, {"a<", 1, false},
        {"<あ1>", 0, false}, {"<1あ", 0, false}, {"<a>", 0, false},
    };
    for (const auto& [line, pos, want] : buttons) EXPECT_EQ(nscr::isTextButton(line, pos), want) << line;

    EXPECT_TRUE(nscr::isAllSpaces({}));
    EXPECT_TRUE(nscr::isAllSpaces({nscr::Token(" ", SPACE)}));
    EXPECT_FALSE(nscr::isAllSpaces({nscr::Token(" ", SPACE), nscr::Token("a", SYMBOL)}));
    EXPECT_FALSE(nscr::isAllSpaces({nscr::Token("x", STRING)}));
    for (int c = 0x80; c < 0x100; ++c) EXPECT_FALSE(nscr::isSymbolChar(static_cast<unsigned char>(c))) << c;
}

// Random lines biased toward the bytes the tokenizer dispatches on.
TEST_F(Tokenizer, RandomLinesRebuildOrFailWithAKnownMessage) {
    const std::vector<std::string_view> pieces = {
        "\t", " ", "!", "\"", "#", "$", "%", "&", "(", ")", "*", "+", "-", "/", ":", ";", "<", "=", "?", "@",
        "[", "\\", "]", "_", "0", "7", "a", "Z", "d", "s", "w", ">", ",", "あ", "漢字", "「", "！", "ｱ", "\xff",
    };
    const std::set<std::string> messages = {
        "input 'd', 's', 'sd', 'w' to line bottom", "input 'd', 's', 'sd', 'w' follow '!'",
        "the format of color is #[0-9a-fA-F]{6}", "input symbol or number to line bottom", "input symbol or number",
        "not found ')'.", "invalid markup nest", "bad ruby format",
    };
    unit::Random random{20240601};
    int accepted = 0;
    for (int n = 0; n < 4000; ++n) {
        std::string line;
        for (std::size_t k = random.below(12); k > 0; --k) {
            // any byte but zero, which never reaches the tokenizer: lines are cut there
            if (random.below(8) == 0) line += static_cast<char>(1 + random.below(255));
            else line += pieces[random.below(pieces.size())];
        }
        nscr::TokenLine tokens;
        std::string error = unit::errorOf([&] { tokens = nscr::parseToToken(line); });
        if (error != "<no error>") {
            const std::string head = "unexpected character '", tail = "' just after '('.";
            bool unexpected = error.size() == head.size() + 1 + tail.size() && error.starts_with(head) &&
                              error.ends_with(tail) && static_cast<unsigned char>(error[head.size()]) < 0x80;
            EXPECT_TRUE(messages.count(error) || unexpected) << error << " for " << line;
            continue;
        }
        ++accepted;
        std::string joined;
        for (const nscr::Token& t : tokens) {
            const std::size_t at = joined.size();
            EXPECT_FALSE(t.text.empty()) << line;
            EXPECT_TRUE(static_cast<int>(t.type) >= 0 && static_cast<int>(t.type) < nscr::tokenTypeCount) << line;
            const bool inside = at > 0 && static_cast<unsigned char>(line[at - 1]) >= 0x80 &&
                                static_cast<unsigned char>(line[at]) >= 0x80;
            EXPECT_FALSE(inside) << "boundary inside non-ASCII text at " << at << " in " << line;
            joined += t.text;
        }
        EXPECT_EQ(joined, line);
    }
    EXPECT_GT(accepted, 800);
    EXPECT_LT(accepted, 3200);
}

}  // namespace
