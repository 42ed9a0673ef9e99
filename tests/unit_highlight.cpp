#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "nscr/webhighlight.h"
#include "unit_support.h"

namespace {

using nscr::TokenType;
using enum nscr::TokenType;

TokenType typeAt(int i) { return static_cast<TokenType>(i); }

class Highlight : public ::testing::Test {
protected:
    void SetUp() override { nscr::initWebHighlight(); }
    void TearDown() override { nscr::initWebHighlight(); }
};

TEST_F(Highlight, DefaultTable) {
    std::string bold;
    for (int i = 0; i < nscr::tokenTypeCount; ++i) {
        const nscr::WebFontInfo& info = nscr::fontInfos[static_cast<std::size_t>(i)];
        EXPECT_EQ(info.name, nscr::tokenTypeName(typeAt(i)));
        EXPECT_EQ(nscr::typeByName(info.name), typeAt(i));
        if (info.fontWeight == "bold") bold += info.name + " ";
    }
    EXPECT_EQ(bold, "SPECIAL_LABEL LINETOP_LABEL DEFINE_COMMAND EXECUTE_COMMAND COMMON_COMMAND ");
    EXPECT_EQ(nscr::tokenTypeName(TAG), "TAG");
    EXPECT_EQ(nscr::tokenTypeName(ASCII), "ASCII");
    EXPECT_FALSE(nscr::typeByName("comment").has_value());
}

// Each row: a colour file and the colours it leaves different from the defaults.
TEST_F(Highlight, ColourFileLines) {
    const std::vector<std::pair<std::string, std::map<TokenType, std::string>>> rows = {
        {"", {}},
        {"COMMENT=#ff0000", {{COMMENT, "#ff0000"}}},
        {" \tCOMMENT \t= \t#ff0000\t \v\f", {{COMMENT, "#ff0000"}}},
        {"comment=#ff0000", {}},
        {"COMMENT=#ff0000=#00ff00", {{COMMENT, "#ff0000"}}},
        {"COMMENT=", {{COMMENT, ""}}},
        {"COMMENT=red", {{COMMENT, "red"}}},
        {"COMMENT = a b ", {{COMMENT, "a b"}}},
        {"NUMBER=#111111\nNUMBER=#222222", {{NUMBER, "#222222"}}},
        {"\xEF\xBB\xBF" "COMMENT=#ff0000\nNUMBER=#123456", {{NUMBER, "#123456"}}},
        {";COMMENT=#ff0000\n#COMMENT=#ff0000\nCOMMENT\nCOMMENTS=#1\n=#1", {}},
        {"NUMBER=#1\rCOMMENT=#2\r\nSYMBOL=#3\n\nASCII=#4\r\n", {{NUMBER, "#1"}, {COMMENT, "#2"}, {SYMBOL, "#3"},
                                                              {ASCII, "#4"}}},
        {"SPACE=#ff0000", {{SPACE, "#ff0000"}}},
    };
    const nscr::FontTable defaults = nscr::fontInfos;
    for (const auto& [text, changed] : rows) {
        nscr::initWebHighlight();
        nscr::applyColorText(text);
        for (int i = 0; i < nscr::tokenTypeCount; ++i) {
            const auto& row = nscr::fontInfos[static_cast<std::size_t>(i)];
            const auto& before = defaults[static_cast<std::size_t>(i)];
            auto found = changed.find(typeAt(i));
            EXPECT_EQ(row.color, found == changed.end() ? before.color : found->second) << text << " row " << i;
            EXPECT_EQ(row.fontWeight, before.fontWeight);
            EXPECT_EQ(row.name, before.name);
        }
    }
    EXPECT_EQ(nscr::styleAttribute(SPACE), "");  // a stored SPACE colour is never written inline
}

TEST_F(Highlight, ColourFileOnDisk) {
    const auto dir = std::filesystem::temp_directory_path() / ("unit_color_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    nscr::loadColorFile((dir / "missing.txt").string());
    EXPECT_EQ(nscr::fontInfos[2].color, "#008000");
    EXPECT_EQ(unit::errorOf([&] { nscr::loadColorFile(dir.string()); }), dir.string() + ": not a regular file");
    std::filesystem::remove_all(dir);
}

TEST_F(Highlight, SpanWriter) {
    // the worked example
    EXPECT_EQ(nscr::formatStyled(LITERAL, "\"abc\""),
              "<span style=\"color: #996600; font-weight: normal;\">&quot;abc&quot;</span>");
    EXPECT_EQ(nscr::formatClassed(LITERAL, "\"abc\""), "<span class=\"LITERAL\">&quot;abc&quot;</span>");
    // SPACE: bare inline, a span by class
    EXPECT_EQ(nscr::formatStyled(SPACE, "    "), "    ");
    EXPECT_EQ(nscr::formatClassed(SPACE, "    "), "<span class=\"SPACE\">    </span>");
    EXPECT_EQ(nscr::formatStyled(TEXT_BUTTON, "<ボタン>"),
              "<span style=\"color: #000000; font-weight: normal;\">&lt;ボタン&gt;</span>");
    EXPECT_EQ(nscr::formatClassed(COMMENT, ";\"\""), "<span class=\"COMMENT\">;&quot;&quot;</span>");
    EXPECT_EQ(nscr::wrapClassSpan("x", typeAt(26)), "x");
    EXPECT_EQ(nscr::wrapClassSpan("x", typeAt(-1)), "x");
    EXPECT_EQ(nscr::wrapStyleSpan("x", ""), "x");

    const std::string escapedTypes = "COMMENT LITERAL OPERATOR RUBY TAG TEXT_BUTTON ";
    std::string seen;
    for (int i = 0; i < nscr::tokenTypeCount; ++i) {
        TokenType t = typeAt(i);
        if (nscr::needsEscape(t)) seen += std::string(nscr::tokenTypeName(t)) + " ";
        // one escaped byte alone is replaced whatever the type
        EXPECT_EQ(nscr::escapeText("<", t) + nscr::escapeText(">", t) + nscr::escapeText("&", t) +
                      nscr::escapeText("\"", t) + nscr::escapeText("'", t),
                  "&lt;&gt;&amp;&quot;'");
        const std::string longer = "a<b>&\"'あ";
        EXPECT_EQ(nscr::escapeText(longer, t), nscr::needsEscape(t) ? "a&lt;b&gt;&amp;&quot;'あ" : longer) << i;
        EXPECT_EQ(nscr::formatStyled(t, ""), "");
        EXPECT_EQ(nscr::formatClassed(t, ""), "");
    }
    EXPECT_EQ(seen, escapedTypes);

    nscr::applyColorText("COMMENT=");
    EXPECT_EQ(nscr::styleAttribute(COMMENT), "style=\"color: ; font-weight: normal;\"");
}

// Long texts are escaped several bytes at a time: every escaped byte is
// found wherever it stands, next to others or alone, near either end.
TEST_F(Highlight, EscapesLongTextsAtEveryOffset) {
    const std::vector<std::pair<char, std::string>> escapes = {
        {'<', "&lt;"}, {'>', "&gt;"}, {'&', "&amp;"}, {'"', "&quot;"}};
    for (std::size_t size : {2, 7, 8, 9, 16, 17, 40})
        for (std::size_t at = 0; at < size; ++at)
            for (const auto& [c, entity] : escapes) {
                std::string text(size, '\x82');
                text[at] = c;
                if (at + 2 < size) text[at + 2] = '<';
                std::string want;
                for (char b : text) want += b == c ? entity : b == '<' ? "&lt;" : std::string(1, b);
                ASSERT_EQ(nscr::escapeText(text, COMMENT), want) << size << " " << at << " " << c;
            }
}

TEST_F(Highlight, StyleSheet) {
    EXPECT_EQ(nscr::cssRule("x", {}), "x\r\n{\r\n}\r\n");
    EXPECT_EQ(nscr::cssRule(".a", {"p: 1;", "q: 2;"}), ".a\r\n{\r\n\tp: 1;\r\n\tq: 2;\r\n}\r\n");
    const std::string comment = ".COMMENT\r\n{\r\n\tcolor: #008000;\r\n\tfont-weight: normal;\r\n}\r\n";
    std::string sheet = nscr::styleSheet();
    // 26 rules of five lines, in type order, nothing else
    std::string selectors;
    std::size_t lines = 0;
    for (std::size_t at = 0; at < sheet.size(); ++lines) {
        std::size_t end = sheet.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        if (lines % 5 == 0) selectors += sheet.substr(at, end - at) + " ";
        at = end + 2;
    }
    EXPECT_EQ(lines, 130u);
    std::string want;
    for (int i = 0; i < nscr::tokenTypeCount; ++i) {
        want += '.';
        want += nscr::tokenTypeName(typeAt(i));
        want += ' ';
    }
    EXPECT_EQ(selectors, want);
    EXPECT_NE(sheet.find(".SPACE\r\n{\r\n\tcolor: #000000;\r\n\tfont-weight: normal;\r\n}\r\n.COMMENT"),
              std::string::npos);
    EXPECT_NE(sheet.find(comment), std::string::npos);
    nscr::applyColorText("COMMENT=");
    EXPECT_NE(nscr::styleSheet().find(".COMMENT\r\n{\r\n\tcolor: ;\r\n"), std::string::npos);
}

}  // namespace
