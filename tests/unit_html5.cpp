#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "contrast.h"
#include "html5.h"
#include "nscr/webhighlight.h"

namespace {

using nscr::TokenType;
using enum nscr::TokenType;

TokenType typeAt(int i) { return static_cast<TokenType>(i); }

// ---- Reading the sheet back -----------------------------------------------

using Declarations = std::map<std::string, std::string>;
using Rules = std::map<std::string, Declarations>;  // by selector

struct Sheet {
    Rules light;  // outside any @media
    Rules dark;   // inside @media (prefers-color-scheme: dark)
};

std::string trimmed(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \n\t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \n\t") - first + 1);
}

void addDeclarations(Declarations& into, const std::string& block) {
    std::size_t start = 0;
    while (start < block.size()) {
        std::size_t end = block.find(';', start);
        if (end == std::string::npos) end = block.size();
        std::string declaration = block.substr(start, end - start);
        std::size_t colon = declaration.find(':');
        if (colon != std::string::npos)
            into[trimmed(declaration.substr(0, colon))] = trimmed(declaration.substr(colon + 1));
        start = end + 1;
    }
}

// A small reader for the flat sheets we write: rules, and @media blocks of rules.
Sheet parsedSheet(const std::string& text) {
    Sheet sheet;
    Rules* current = &sheet.light;
    bool inMedia = false;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t open = text.find('{', at);
        std::size_t close = text.find('}', at);
        if (close != std::string::npos && (open == std::string::npos || close < open)) {
            EXPECT_TRUE(inMedia) << "unbalanced } at " << close;
            inMedia = false;
            current = &sheet.light;
            at = close + 1;
            continue;
        }
        if (open == std::string::npos) break;
        std::string selector = trimmed(text.substr(at, open - at));
        if (selector.rfind("@media", 0) == 0) {
            EXPECT_EQ(selector, "@media (prefers-color-scheme: dark)");
            inMedia = true;
            current = &sheet.dark;
            at = open + 1;
            continue;
        }
        EXPECT_NE(close, std::string::npos);
        addDeclarations((*current)[selector], text.substr(open + 1, close - open - 1));
        at = close + 1;
    }
    EXPECT_FALSE(inMedia) << "unclosed @media";
    return sheet;
}

// ---- WCAG contrast ----------------------------------------------------------

double contrast(const std::string& a, const std::string& b) {
    std::optional<double> ratio = contrast::contrastRatio(a, b);
    EXPECT_TRUE(ratio.has_value()) << a << " / " << b;
    return ratio.value_or(0);
}

TEST(Html5Contrast, KnownPairs) {
    EXPECT_NEAR(contrast("#000000", "#ffffff"), 21.0, 1e-9);
    EXPECT_NEAR(contrast("#777777", "#ffffff"), 4.48, 0.01);
    EXPECT_NEAR(contrast("#0099cc", "#ffffff"), 3.26, 0.01);
}

// ---- Fixture ----------------------------------------------------------------

class Html5 : public ::testing::Test {
protected:
    void SetUp() override { nscr::initWebHighlight(); }
    void TearDown() override { nscr::initWebHighlight(); }

    static std::string tokenSelector(TokenType type) {
        std::string selector = ".";
        selector += html5::className(type);
        return selector;
    }
};

// Every token colour, the line numbers and the index links, against both the
// page background and the highlight of a targeted line, in both schemes.
TEST_F(Html5, EveryColourIsReadableInBothSchemes) {
    Sheet sheet = parsedSheet(html5::colourRules());
    for (const Rules* rules : {&sheet.light, &sheet.dark}) {
        const std::string scheme = rules == &sheet.light ? "light" : "dark";
        std::vector<std::string> backgrounds = {rules->at("body").at("background"),
                                                rules->at(".l:target").at("background")};
        EXPECT_EQ(rules->at(".l:has(:target)").at("background"), backgrounds[1]);
        std::vector<std::pair<std::string, std::string>> colours = {
            {"body", rules->at("body").at("color")},
            {"line numbers", rules->at(".n,.ln").at("color")},
            {"index links", rules->at(".idx a,.pages a").at("color")},
        };
        for (int i = 0; i < nscr::tokenTypeCount; ++i)
            colours.emplace_back(nscr::fontInfos[static_cast<std::size_t>(i)].name,
                                 rules->at(tokenSelector(typeAt(i))).at("color"));
        ASSERT_EQ(colours.size(), 3u + nscr::tokenTypeCount);
        for (const auto& [what, colour] : colours)
            for (const std::string& background : backgrounds)
                EXPECT_GE(contrast(colour, background), 4.5) << scheme << ' ' << what << ' ' << colour << " on "
                                                             << background;
    }
}

TEST_F(Html5, FontWeightsFollowTheFontTable) {
    Sheet sheet = parsedSheet(html5::colourRules());
    for (int i = 0; i < nscr::tokenTypeCount; ++i) {
        const Declarations& rule = sheet.light.at(tokenSelector(typeAt(i)));
        std::string weight = rule.count("font-weight") ? rule.at("font-weight") : "normal";
        EXPECT_EQ(weight, nscr::fontInfos[static_cast<std::size_t>(i)].fontWeight) << i;
        EXPECT_FALSE(sheet.dark.at(tokenSelector(typeAt(i))).count("font-weight")) << i;
    }
}

// Each row: a colour set as color.txt sets it, and the light colour expected
// for its type ("" for the one of the sheet without it).
TEST_F(Html5, ColourFileChangesOnlyTheLightScheme) {
    const Sheet plain = parsedSheet(html5::colourRules());
    const std::vector<std::tuple<TokenType, std::string, std::string>> rows = {
        {COMMENT, "#5f8a3a", "#5f8a3a"},
        {LITERAL, "rgb(10, 20, 30)", "rgb(10, 20, 30)"},
        {STRING, "black", "black"},
        {SPECIAL_LABEL, "#3399cc", ""},  // the built-in colour: ours replaces it
        {TAG, "red}</style><script>alert(1)</script>", ""},
        {COLOR, "red;background:url(x)", ""},
        {RUBY, "/* */", ""},
        {ASCII, "", ""},
    };
    for (const auto& [type, colour, expected] : rows) {
        nscr::initWebHighlight();
        nscr::fontInfos[static_cast<std::size_t>(type)].color = colour;
        const std::string text = html5::colourRules();
        const Sheet sheet = parsedSheet(text);
        const std::string selector = tokenSelector(type);
        std::string want = expected.empty() ? plain.light.at(selector).at("color") : expected;
        EXPECT_EQ(sheet.light.at(selector).at("color"), want) << colour;
        EXPECT_EQ(sheet.dark, plain.dark) << colour;
        EXPECT_EQ(text.find('<'), std::string::npos) << colour;
        for (int i = 0; i < nscr::tokenTypeCount; ++i) {
            if (typeAt(i) == type) continue;
            EXPECT_EQ(sheet.light.at(tokenSelector(typeAt(i))), plain.light.at(tokenSelector(typeAt(i))));
        }
    }
}

TEST(Html5Names, ClassNamesAreShortUniqueAndClearOfLayoutClasses) {
    std::set<std::string> seen = {"l", "n", "code", "idx", "ln", "pages"};
    for (int i = 0; i < nscr::tokenTypeCount; ++i) {
        std::string name(html5::className(typeAt(i)));
        bool lowerLetters = !name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos;
        EXPECT_TRUE(lowerLetters && name.size() <= 2) << i << ' ' << name;
        EXPECT_TRUE(seen.insert(name).second) << i << ' ' << name;
    }
    EXPECT_EQ(html5::className(COMMENT), "c");
    EXPECT_EQ(html5::className(typeAt(nscr::tokenTypeCount)), "");
    EXPECT_EQ(html5::className(typeAt(-1)), "");
}

TEST(Html5Text, Escaped) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", ""},
        {"plain *text_end 'x'", "plain *text_end 'x'"},
        {"a<b>&\"c\"", "a&lt;b&gt;&amp;&quot;c&quot;"},
        {"&amp;", "&amp;amp;"},
        {"\xe5\x90\xbe\xe8\xbc\xa9<", "\xe5\x90\xbe\xe8\xbc\xa9&lt;"},
        {std::string("a\0b\t\n", 5), std::string("a\0b\t\n", 5)},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(html5::escaped(text), expected) << text;
    // Texts are looked through in blocks of 8 and 16 bytes: every length,
    // with the byte to escape at every place, and high bytes around it.
    for (std::size_t length = 0; length <= 40; ++length) {
        std::string text(length, '\x82');
        EXPECT_FALSE(html5::hasEscapedByte(text)) << length;
        for (std::size_t at = 0; at < length; ++at)
            for (char c : {'&', '<', '>', '"'}) {
                std::string one = text;
                one[at] = c;
                EXPECT_TRUE(html5::hasEscapedByte(one)) << length << " " << at << " " << c;
            }
    }
}

TEST(Html5Text, HrefOfFile) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"0.txt.html", "0.txt.html"},
        {"sub/a b.txt.html", "sub/a%20b.txt.html"},
        {"a#1?.html", "a%231%3F.html"},
        {"100%.html", "100%25.html"},
        {"c:x.html", "c%3Ax.html"},  // not a scheme
        {"\"<>\\.html", "%22%3C%3E%5C.html"},
        {"\xe5\x90\xbe.html", "%E5%90%BE.html"},
        {"a\xff.html", "a%FF.html"},  // not UTF-8: the page must stay valid
    };
    for (const auto& [name, expected] : rows) EXPECT_EQ(html5::hrefOfFile(name), expected) << name;
}

// The index as the reading pages write it, piece by piece: names and ids
// escaped, the page's link in front of each id.
TEST(Html5Index, LabelIndex) {
    std::string index;
    html5::appendIndexOpening(index, 3);
    html5::appendIndexEntry(index, "start", "l-start", 3, "");
    html5::appendIndexEntry(index, "a<b", "l-a&lt;b", 12, "");
    html5::appendIndexEntry(index, "Start", "l-Start-2", 40, "b%20c.txt.html");
    html5::appendIndexClosing(index);
    EXPECT_EQ(index,
              "<nav class=\"idx\"><details><summary>Labels (3)</summary>\n<ol>\n"
              "<li><a href=\"#l-start\">*start</a><span class=\"ln\">3</span></li>\n"
              "<li><a href=\"#l-a&amp;lt;b\">*a&lt;b</a><span class=\"ln\">12</span></li>\n"
              "<li><a href=\"b%20c.txt.html#l-Start-2\">*Start</a><span class=\"ln\">40</span></li>\n"
              "</ol>\n</details></nav>\n");
    // An entry of bytes that all grow, after text already there, and the
    // longest line number.
    std::string entry(1000, 'x');
    const std::string quotes(300, '"');
    html5::appendIndexEntry(entry, quotes, "l-q", 9223372036854775807, quotes);
    EXPECT_EQ(entry, std::string(1000, 'x') + "<li><a href=\"" + html5::escaped(quotes) + "#l-q\">*" +
                         html5::escaped(quotes) + "</a><span class=\"ln\">9223372036854775807</span></li>\n");
}

}  // namespace
