// Whole -html5 pages from convertScript: lines, label ids and links,
// escaping, and the same page however the script is cut or encoded.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "converter.h"
#include "generator.h"
#include "html5.h"
#include "labels.h"
#include "nscr/token.h"
#include "nscr/webhighlight.h"
#include "unit_support.h"

namespace {

struct Options {
    bool lineNumbers = false;
    std::size_t parts = 1;
    TextEncoding encoding = TextEncoding::CP932;
    bool lenient = false;
};

std::string html5Page(std::string_view script, const Options& options = {}) {
    Generator generator(OutputMode::HTML5, options.lineNumbers, TextEncoding::UTF8);
    Cp932Decoder decoder;
    ScriptSettings settings{options.encoding, options.lenient};
    return convertScript(script, generator, settings, decoder, options.parts, "s.txt").page.finish();
}

// The page's code block: the lines, without head, index and tail.
std::string codeOf(const std::string& page) {
    std::size_t at = page.find(html5::codeOpening());
    std::size_t end = page.rfind("</pre>");
    EXPECT_NE(at, std::string::npos);
    EXPECT_NE(end, std::string::npos);
    if (at == std::string::npos || end == std::string::npos || end < at) return {};
    return page.substr(at, end - at);
}

// One start tag: its name and attributes.
struct Tag {
    std::string name;
    std::map<std::string, std::string> attributes;
    bool has(const std::string& key) const { return attributes.count(key) != 0; }
    std::string get(const std::string& key) const { return has(key) ? attributes.at(key) : "<none>"; }
};

// Every start tag of the text, in order; attributes are name="value" only.
std::vector<Tag> startTags(const std::string& text) {
    std::vector<Tag> tags;
    for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        std::size_t end = text.find('>', at);
        if (end == std::string::npos || text[at + 1] == '/') continue;
        std::string inside = text.substr(at + 1, end - at - 1);
        std::size_t blank = inside.find(' ');
        Tag tag{inside.substr(0, blank), {}};
        while (blank != std::string::npos) {
            std::size_t equals = inside.find("=\"", blank);
            std::size_t close = equals == std::string::npos ? equals : inside.find('"', equals + 2);
            EXPECT_NE(close, std::string::npos) << inside;
            if (close == std::string::npos) break;
            std::string name = inside.substr(blank + 1, equals - blank - 1);
            EXPECT_TRUE(tag.attributes.emplace(name, inside.substr(equals + 2, close - equals - 2)).second)
                << "attribute twice: " << inside;
            blank = close + 1 < inside.size() ? close + 1 : std::string::npos;
            EXPECT_TRUE(blank == std::string::npos || inside[blank] == ' ') << inside;
        }
        tags.push_back(std::move(tag));
    }
    return tags;
}

bool isLineId(const std::string& id) {
    return id.size() > 1 && id[0] == 'L' && id.find_first_not_of("0123456789", 1) == std::string::npos;
}

bool isIdOfNameBytes(const std::string& id) {
    return !id.empty() && id.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") ==
                              std::string::npos;
}

// The text a reader sees in the code block: tags dropped, entities read.
// Fails the test on text that is not escaped.
std::string visibleText(const std::string& code) {
    std::string text;
    static const std::map<std::string, char> entities = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'},
                                                         {"&quot;", '"'}};
    for (std::size_t i = 0; i < code.size(); ++i) {
        if (code[i] == '<') {
            i = code.find('>', i);
            if (i == std::string::npos) break;
            continue;
        }
        if (code[i] == '&') {
            std::size_t semicolon = code.find(';', i);
            std::string entity = code.substr(i, semicolon == std::string::npos ? 1 : semicolon - i + 1);
            auto found = entities.find(entity);
            EXPECT_NE(found, entities.end()) << "unescaped & at " << code.substr(i, 20);
            if (found == entities.end()) continue;
            text += found->second;
            i = semicolon;
            continue;
        }
        EXPECT_TRUE(code[i] != '>' && code[i] != '"') << "unescaped " << code[i] << " at " << code.substr(i, 20);
        text += code[i];
    }
    return text;
}

// The script's lines as the page should show them, each ended by "\n".
std::string linesOf(std::initializer_list<std::string_view> lines) {
    std::string text;
    for (std::string_view line : lines) (text += line) += '\n';
    return text;
}

std::string joined(const std::vector<std::string>& lines, std::string_view end) {
    std::string text;
    for (const std::string& line : lines) (text += line) += end;
    return text;
}

std::vector<Tag> labelLinks(const std::string& page) {
    std::vector<Tag> links;
    for (Tag& tag : startTags(codeOf(page)))
        if (tag.name == "a" && tag.get("class") != "n") links.push_back(std::move(tag));
    return links;
}

class Html5Page : public unit::WithCommands {
protected:
    Html5Page() : WithCommands("goto,E\ngosub,E\nmov\ngame,F\nbg,E") {}
};

// Labels met before their definition, definitions in a later part than the
// reference, and a name defined in two parts: the first in script order wins.
const std::vector<std::string> partedScript = [] {
    std::vector<std::string> lines = {"*define", "goto *later", "gosub *Twice", "game", "*twice", "return"};
    for (int i = 0; i < 40; ++i) lines.push_back("mov %" + std::to_string(i) + ",1 ;\x82\xA0 filler");
    lines.insert(lines.end(), {"*later", "goto *twice", "*TWICE", "goto *nowhere"});
    return lines;
}();

TEST_F(Html5Page, SameForEveryPartCount) {
    const std::string script = joined(partedScript, "\r\n");
    for (bool numbers : {false, true}) {
        const std::string whole = html5Page(script, {numbers, 1});
        for (std::size_t parts = 2; parts <= 4; ++parts)
            EXPECT_EQ(html5Page(script, {numbers, parts}), whole) << parts << " parts, numbers " << numbers;

        std::vector<Tag> links = labelLinks(whole);
        ASSERT_EQ(links.size(), 8u);
        EXPECT_EQ(links[1].get("href"), "#l-later");  // defined on line 47
        EXPECT_EQ(links[2].get("href"), "#l-twice");
        EXPECT_EQ(links[3].get("id"), "l-twice");
        EXPECT_EQ(links[5].get("href"), "#l-twice");
        EXPECT_EQ(links[6].get("id"), "l-twice-2");
        EXPECT_EQ(links[6].get("href"), "#l-twice-2");
        EXPECT_FALSE(links[7].has("href"));
        EXPECT_EQ(visibleText(codeOf(whole)), unit::viaIconv("UTF-8", "CP932", joined(partedScript, "\n")));
    }
}

// Every line is an element with id L1, L2... whatever its line end, empty
// lines and the last line without an end included; a zero byte ends a line.
TEST_F(Html5Page, EveryLineHasItsId) {
    struct Case {
        std::string script;
        std::size_t lines;
    };
    const Case cases[] = {
        {"", 0},
        {"a", 1},
        {"a\r\n", 1},
        {"\r\n\r\n", 2},
        {"a\rb\nc\r\nd", 4},
        {"a\n\n\nb\n", 4},
        {std::string("x\0y\r\n\0\r\nz", 9), 3},
    };
    for (const Case& c : cases)
        for (bool numbers : {false, true}) {
            SCOPED_TRACE(testing::PrintToString(c.script) + (numbers ? " numbered" : ""));
            std::string code = codeOf(html5Page(c.script, {numbers}));
            std::vector<std::string> lineIds;
            for (const Tag& tag : startTags(code))
                if (tag.get("class") == "l") lineIds.push_back(tag.get("id"));
            ASSERT_EQ(lineIds.size(), c.lines);
            for (std::size_t i = 0; i < c.lines; ++i) {
                const std::string n = std::to_string(i + 1);
                const std::string id = std::string("L") + n;
                EXPECT_EQ(lineIds[i], id);
                std::string number = "<a class=\"n\" href=\"#" + id + "\" data-n=\"" + n + "\"></a>";
                EXPECT_EQ(code.find("id=\"" + id + "\">" + number) != std::string::npos, numbers) << id;
            }
        }
    EXPECT_EQ(visibleText(codeOf(html5Page(std::string("x\0y\r\n\0\r\nz", 9)))), linesOf({"x", "", "z"}));
}

// Each type that can hold & < > " keeps them as entities; the text read
// back is the line.
TEST_F(Html5Page, EscapesInEveryTokenType) {
    struct Case {
        std::string line;
        std::string className;
        std::string html;  // the token's text on the page
    };
    const Case cases[] = {
        {";a<&>\"b\"", "c", ";a&lt;&amp;&gt;&quot;b&quot;"},
        {"bg \"<&>\",1", "lt", "&quot;&lt;&amp;&gt;&quot;"},
        {"mov %0,1<2", "op", "&lt;"},
        {"if %0>1 goto *a", "as", "&gt;"},
        {"if %0&&1 goto *a", "op", "&amp;"},
        {"<1\x82\xA0\x82\xA2>", "tb", "&lt;1\xE3\x81\x82\xE3\x81\x84&gt;"},
        {"[\x83\x5E<&>\x83\x4F]", "tg", "[\xE3\x82\xBF&lt;&amp;&gt;\xE3\x82\xB0]"},
        {"(\x8A\xBF/\x82\xA9\x82\xF1)&", "ru", "(\xE6\xBC\xA2/\xE3\x81\x8B\xE3\x82\x93)"},
        {"(\x8A\xBF/\x82\xA9\x82\xF1)&", "op", "&amp;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::string code = codeOf(html5Page(c.line + "\r\n"));
        EXPECT_NE(code.find("<span class=\"" + c.className + "\">" + c.html + "</span>"), std::string::npos) << code;
        std::optional<std::string> utf8 = unit::viaIconv("UTF-8", "CP932", c.line);
        EXPECT_EQ(visibleText(code), *utf8 + "\n");
    }
    // Lenient lines: the characters a rule failed at are ASCII tokens.
    std::string lenient = codeOf(html5Page("`\"a<b>&c\"!!\r\nmov $0,\"&\r\n", {false, 1, TextEncoding::CP932, true}));
    EXPECT_EQ(visibleText(lenient), linesOf({"`\"a<b>&c\"!!", "mov $0,\"&"}));
}

TEST_F(Html5Page, LabelLinks) {
    const std::string script = linesOf({"*start", "*Scene_1", "goto *START", "gosub *scene_1", "goto *missing",
                                        "mov %0,1:goto *SCENE_1", "*", "goto *"});
    std::vector<Tag> links = labelLinks(html5Page(script));
    ASSERT_EQ(links.size(), 8u);
    struct Want {
        std::string className, id, href;
    };
    const Want wants[] = {
        {"sl", "l-start", "#l-start"},   {"tl", "l-scene_1", "#l-scene_1"}, {"gl", "<none>", "#l-start"},
        {"gl", "<none>", "#l-scene_1"}, {"gl", "<none>", "<none>"},        {"gl", "<none>", "#l-scene_1"},
        {"tl", "l-", "#l-"},             {"gl", "<none>", "#l-"},
    };
    for (std::size_t i = 0; i < links.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(links[i].get("class"), wants[i].className);
        EXPECT_EQ(links[i].get("id"), wants[i].id);
        EXPECT_EQ(links[i].get("href"), wants[i].href);
    }
    std::string page = html5Page(script);
    EXPECT_NE(page.find("<a class=\"gl\" data-to=\"missing\">*missing</a>"), std::string::npos);
    EXPECT_EQ(visibleText(codeOf(page)), script);
    // A page whose first label has no name: nothing is kept for it yet.
    const std::string unnamed = linesOf({"*", "goto *", "*a"});
    EXPECT_EQ(visibleText(codeOf(html5Page(unnamed))), unnamed);
    EXPECT_EQ(labelLinks(html5Page(unnamed)).size(), 3u);
}

// Names that differ only in case, names that look like line ids, every byte
// a name may hold: ids stay unique without regard to case, and no label id
// is a line id.
TEST_F(Html5Page, LabelIdsAreUniqueAndNeverLineIds) {
    const std::string allBytes = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789";
    const std::string script =
        linesOf({"*L1", "*l1", "*L2", "*l_2", "*L1", "*a", "*A", "*a_2", "*A_2", "*_", "*__", "*" + allBytes,
                 "goto *" + allBytes, "goto *l1", "goto *A_2"});
    for (bool numbers : {false, true}) {
        std::vector<Tag> tags = startTags(codeOf(html5Page(script, {numbers})));
        std::set<std::string> ids, folded;
        std::vector<std::string> labelIds, hrefs;
        for (const Tag& tag : tags) {
            if (tag.has("id")) {
                std::string id = tag.get("id");
                EXPECT_TRUE(ids.insert(id).second) << "id twice: " << id;
                EXPECT_TRUE(folded.insert(labelKey(id)).second) << "id twice without case: " << id;
                EXPECT_TRUE(isIdOfNameBytes(id)) << id;
                if (tag.name == "a") labelIds.push_back(id);
            }
            if (tag.name == "a" && tag.get("class") == "gl") hrefs.push_back(tag.get("href"));
        }
        ASSERT_EQ(labelIds.size(), 12u);
        for (const std::string& id : labelIds) EXPECT_FALSE(isLineId(id)) << id;
        EXPECT_EQ(labelIds[11], "l-" + labelKey(allBytes));
        EXPECT_EQ(hrefs, (std::vector<std::string>{"#l-" + labelKey(allBytes), "#l-l1", "#l-a_2"}));
    }
}

// A CP932 script and its UTF-8 form, with or without a byte order mark, give
// the same page.
TEST_F(Html5Page, SameForCp932AndUtf8Scripts) {
    std::string cp932 = joined(partedScript, "\r\n") +
                        "[\x83\x5E\x83\x4F]\x83\x5C\x81\x5B\x95\x5C!w500(\x8A\xBF/\x82\xA9\x82\xF1)<1\x82\xCD>@\\\r\n"
                        ";\x87\x40\x81\x60\xB1\r\n";
    std::optional<std::string> utf8 = unit::viaIconv("UTF-8", "CP932", cp932);
    ASSERT_TRUE(utf8);
    for (bool numbers : {false, true})
        for (std::size_t parts : {1, 3}) {
            std::string want = html5Page(cp932, {numbers, parts});
            EXPECT_EQ(html5Page(*utf8, {numbers, parts, TextEncoding::UTF8}), want);
            EXPECT_EQ(html5Page("\xEF\xBB\xBF" + *utf8, {numbers, parts, TextEncoding::UTF8}), want);
        }
}

// 100,000 labels, each the target of a goto: every one gets its id, its
// link and its entry in the index, in time that stays linear.
TEST_F(Html5Page, HundredThousandLabels) {
    constexpr int count = 100000;
    std::string script;
    for (int i = 0; i < count; ++i)
        script += "*label" + std::to_string(i) + "\r\ngoto *LABEL" + std::to_string(count - 1 - i) + "\r\n";
    auto started = std::chrono::steady_clock::now();
    std::string page = html5Page(script, {true, 2});
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 30.0);
    EXPECT_NE(page.find("<summary>Labels (100000)</summary>"), std::string::npos);
    std::size_t entries = 0, linked = 0;
    for (std::size_t at = 0; (at = page.find("<li><a href=\"#l-label", at)) != std::string::npos; ++at) ++entries;
    for (std::size_t at = 0; (at = page.find("<a class=\"gl\" href=\"#l-label", at)) != std::string::npos; ++at)
        ++linked;
    EXPECT_EQ(entries, static_cast<std::size_t>(count));
    EXPECT_EQ(linked, static_cast<std::size_t>(count));
    EXPECT_NE(page.find("<a class=\"gl\" href=\"#l-label99999\">*LABEL99999</a></span>\n<span class=\"l\" id=\"L3\">"),
              std::string::npos);
}

// A script that does not tokenize gives the error of the legacy pages.
// Labels are found through a table indexed by the low bits of their hash:
// names that differ only in a digit or two, as a script's names do, must
// not fall into the same few places.
TEST(LabelHash, NamesOfAScriptSpreadOverATable) {
    const std::vector<std::string> patterns = {"scene", "sub", "a", "label_", "LongerLabelNamePrefix_", ""};
    for (const std::string& prefix : patterns) {
        std::map<std::uint32_t, int> perSlot;
        int most = 0;
        for (int n = 0; n < 100000; ++n) most = std::max(most, ++perSlot[labelHash(prefix + std::to_string(n)) & 0xFFFF]);
        // 100,000 names over 65,536 places: a fair hash puts at most a dozen in one.
        EXPECT_LE(most, 12) << prefix;
    }
}

// A name is looked up by the hash of its key, which is taken from the name
// itself: both must agree whatever the case, the length and the bytes
// around the capitals.
TEST(LabelHash, NameAndKeyAgree) {
    const std::string bytes = "@AMZ[`amz{_09\x7f\x80\xc1\xda";
    unit::Random random{11};
    for (int n = 0; n < 2000; ++n) {
        std::string name;
        for (std::size_t k = random.below(24); k > 0; --k) name += bytes[random.below(bytes.size())];
        EXPECT_EQ(labelHash(name), labelHash(labelKey(name))) << testing::PrintToString(name);
    }
    EXPECT_NE(labelHash("scene1"), labelHash("scene2"));
    EXPECT_NE(labelHash("a"), labelHash("b"));
}

TEST_F(Html5Page, TokenizerErrorIsTheLegacyOne) {
    const std::string script = "*start\r\nmov %0,1\r\n!x\r\n";
    Cp932Decoder decoder;
    Generator legacy(OutputMode::STYLE, false);
    std::string want = unit::errorOf([&] { convertScript(script, legacy, ScriptSettings{}, decoder, 1); });
    EXPECT_EQ(want, "2: input 'd', 's', 'sd', 'w' follow '!'");
    for (std::size_t parts : {1, 2})
        EXPECT_EQ(unit::errorOf([&] { html5Page(script, {true, parts}); }), want);
}

}  // namespace
