// The reading page and its parts, written from the model of small scripts.

#include <gtest/gtest.h>

#include "analysis/model.h"
#include "nscr/token.h"
#include "write/html5/front_page.h"
#include "write/html5/page_out.h"
#include "write/html5/reading_page.h"

namespace {

using writers::html5::PageLayout;

analysis::Model modelOf(std::vector<std::string> texts) {
    std::vector<input::SourceFile> files;
    for (std::size_t k = 0; k < texts.size(); ++k)
        files.push_back({"g/" + std::to_string(k) + ".txt", std::to_string(k) + ".txt", texts[k], input::Encoding::CP932});
    analysis::CommandSet commands;
    for (const char* name : {"goto", "gosub", "defsub", "numalias", "stralias", "game", "mov", "return", "jumpf"})
        commands.add(name, analysis::CommandSet::Block::Both);
    return analysis::analyze(std::move(files), commands);
}

std::vector<std::string> pagePaths(const analysis::Model& model) {
    std::vector<std::string> paths;
    for (const input::SourceFile& file : model.files) paths.push_back("site/" + file.name + ".html");
    return paths;
}

std::string lines(std::size_t count, const std::string& line) {
    std::string text;
    for (std::size_t k = 0; k < count; ++k) text += line + "\n";
    return text;
}

// Pieces of every size reach the page whole and in order, several at once
// or one short piece alone, whatever the room the buffer had.
TEST(PageOut, PiecesOfEverySizeArriveWhole) {
    for (std::size_t size = 0; size <= 40; ++size) {
        std::string piece;
        for (std::size_t k = 0; k < size; ++k) piece += static_cast<char>('a' + k % 26);
        nscr::ByteBuffer buffer(4);
        writers::html5::PageOut out(buffer);
        out.append(std::string_view("<"), std::string_view(piece), std::string_view(">"));
        if (size <= 16) out.commit(writers::html5::PageOut::copiedShort(out.room(16), piece));
        EXPECT_EQ(out.page(), "<" + piece + ">" + (size <= 16 ? piece : "")) << size;
    }
}

TEST(ReadingPageLayout, PartsAreCutAtALabelNearTheLimit) {
    struct Case {
        const char* name;
        std::string script;
        std::size_t split;
        std::vector<std::uint32_t> starts;  // first line of each part, from 0
    };
    const std::vector<Case> cases = {
        {"no cut below the limit", lines(1050, "mov %0,1"), 1000, {0}},
        {"cut at the label before the limit", lines(990, "mov %0,1") + "*here\n" + lines(1000, "mov %0,1"), 1000, {0, 990}},
        {"cut at the limit without a label near", lines(2500, "mov %0,1"), 1000, {0, 1000, 2000}},
        {"never cut", lines(2500, "mov %0,1"), 0, {0}},
    };
    for (const Case& test : cases) {
        analysis::Model model = modelOf({test.script});
        PageLayout layout(model, pagePaths(model), test.split);
        std::vector<std::uint32_t> starts;
        for (const writers::html5::PagePart& part : layout.parts()) starts.push_back(part.firstLine);
        EXPECT_EQ(starts, test.starts) << test.name;
        EXPECT_EQ(layout.parts().back().endLine, model.fileInfo[0].lineCount) << test.name;
    }
    analysis::Model model = modelOf({lines(2500, "mov %0,1")});
    PageLayout layout(model, pagePaths(model), 1000);
    EXPECT_EQ(layout.parts()[2].path, "site/0.txt.3.html");
    EXPECT_EQ(layout.partOf(0, 1999), 1u);
    EXPECT_EQ(layout.href(2, 0, "L12"), "0.txt.html#L12");
}

TEST(ReadingPageLinks, HrefsAreRelativeEncodedAndEscaped) {
    struct Case {
        std::string from, to, id, href;
    };
    const std::vector<Case> cases = {
        {"a/0.txt.html", "a/1.txt.html", "l-x", "1.txt.html#l-x"},
        {"a/0.txt.html", "b c/2.txt.html", "", "../b%20c/2.txt.html"},
        {"a/0.txt.html", "a/x&y#'1.txt.html", "", "x%26y%23%271.txt.html"},
        {"/abs/0.txt.html", "/abs/q?\"1.txt.html", "L3", "q%3F%221.txt.html#L3"},
    };
    for (const Case& test : cases) EXPECT_EQ(writers::html5::relativeHref(test.from, test.to, test.id), test.href) << test.to;
}

bool holds(const std::string& page, const std::string& part) { return page.find(part) != std::string::npos; }

TEST(ReadingPageContent, TheModelsLinksAndReferencesAreOnThePage) {
    analysis::Model model = modelOf({"*define\nnumalias vol,30\ndefsub face\ngame\n*start\nface vol\ngoto *end\n`Hi, *rumble; if@\n",
                                     "*face\nreturn\n*end\njumpf\n;x\n~\nHello there\n"});
    PageLayout layout(model, pagePaths(model), 0);
    writers::html5::ReadingOptions options;
    std::string zero = writers::html5::readingPage(model, layout, 0, options);
    std::string one = writers::html5::readingPage(model, layout, 1, options);
    const std::vector<std::pair<const std::string*, std::string>> expected = {
        {&zero, "<a class=\"uc\" href=\"1.txt.html#l-face\">face</a> <a class=\"al\" href=\"#a-vol\">vol</a>"},
        {&zero, "<span class=\"ad\" id=\"a-vol\" title=\"numalias vol = 30, 0.txt:2\">vol</span>"},
        {&zero, "<a class=\"gl\" href=\"1.txt.html#l-end\">*end</a>"},
        {&zero, "<span id=\"L8\">`Hi, *rumble; if<span class=\"sc\">@</span></span>"},
        {&zero, "\"a-vol\":\"numalias vol = 30, 0.txt:2\""},
        {&one, "<span class=\"refs\">1 reference: <a href=\"0.txt.html#L7\" title=\"goto\">0.txt:7</a></span>"},
        {&one, "<a class=\"cc j\" href=\"#L6\" title=\"jumpf goes to 1.txt:6\">jumpf</a>"},
        {&one, "<span class=\"uk\" title=\"unknown command\">Hello</span>"},
        {&zero, "<span class=\"refs\">1 reference: <a href=\"#L4\" title=\"game\">4</a></span>"},
    };
    for (const auto& [page, part] : expected) EXPECT_TRUE(holds(*page, part)) << part;
    EXPECT_TRUE(holds(zero, "<html lang=\"en\">"));
}

// Pieces short and long, with a byte to escape anywhere in them, in a
// comment and in text, after a double-byte character or not.
TEST(ReadingPageContent, BytesToEscapeAreEscapedWhereverTheyStand) {
    const std::vector<std::pair<char, std::string>> escapes = {{'<', "&lt;"}, {'>', "&gt;"}, {'&', "&amp;"}, {'"', "&quot;"}};
    std::string script, kana = "\x82\xa0", kanaUtf8 = "\xe3\x81\x82";
    std::vector<std::string> expected;
    for (const auto& [byte, entity] : escapes)
        for (std::size_t length = 1; length <= 20; length += 3)
            for (std::size_t at = 0; at < length; at += 2) {
                std::string before(at, 'a'), after(length - at - 1, 'b');
                script += ";" + before + byte + after + "\n" + kana + before + byte + after + "\n";
                expected.push_back("\">;" + before + entity + after + "</span>");
                expected.push_back("\">" + kanaUtf8 + before + entity + after + "</span>");
            }
    analysis::Model model = modelOf({script});
    PageLayout layout(model, pagePaths(model), 0);
    std::string page = writers::html5::readingPage(model, layout, 0, writers::html5::ReadingOptions());
    for (const std::string& text : expected) EXPECT_TRUE(holds(page, text)) << text;
}

// Line numbers are counted up digit by digit: every carry gives the
// number of the line, on a page of the whole file and on a later part.
TEST(ReadingPageContent, LineIdsCarryOverEveryDigit) {
    analysis::Model model = modelOf({lines(1001, ";c")});
    for (std::size_t split : {0, 400}) {
        PageLayout layout(model, pagePaths(model), split);
        std::string page;
        for (std::size_t part = 0; part < layout.parts().size(); ++part)
            page += writers::html5::readingPage(model, layout, part, writers::html5::ReadingOptions());
        for (int line : {1, 9, 10, 11, 99, 100, 101, 399, 400, 401, 999, 1000, 1001})
            EXPECT_TRUE(holds(page, "<span id=\"L" + std::to_string(line) + "\">")) << split << " " << line;
        EXPECT_FALSE(holds(page, "<span id=\"L1002\">"));
    }
}

// Each part lists the labels of its own lines: one on its first line, one
// on its last, and none of another part's or another file's.
TEST(ReadingPageContent, EachPartIndexesTheLabelsOfItsLines) {
    std::string script = "*first\n" + lines(989, "mov %0,1") + "*second\n" + lines(998, "mov %0,1") + "*third\n";
    analysis::Model model = modelOf({script, "*other\n"});
    PageLayout layout(model, pagePaths(model), 1000);
    ASSERT_EQ(layout.parts().size(), 3u);
    auto indexed = [&](std::size_t part) {
        std::string page = writers::html5::readingPage(model, layout, part, writers::html5::ReadingOptions());
        std::string names;
        for (const char* name : {"first", "second", "third", "other"})
            if (holds(page, std::string("<li><a href=\"#l-") + name + "\">")) names += std::string(name) + " ";
        return names;
    };
    EXPECT_EQ(indexed(0), "first ");
    EXPECT_EQ(indexed(1), "second third ");
    EXPECT_EQ(indexed(2), "other ");
}

TEST(ReadingPageFront, GameFilesLabelsAndPlaces) {
    analysis::Model model = modelOf({"*define\ngame\n", "*start\ngoto *start\n"});
    PageLayout layout(model, pagePaths(model), 0);
    writers::html5::FrontPage front{"game", {{"g/00.txt", "00.txt", "shadowed by 0.txt"}}};
    std::string page = writers::html5::frontPage(model, layout, front, "site/index.html");
    EXPECT_TRUE(holds(page, "<td><a href=\"1.txt.html\">1.txt</a></td><td>CP932</td><td>19</td><td>2</td><td>4\xE2\x80\x93" "6</td>"))
        << "two lines, a final line end and the engine's own: lines 4 to 6";
    EXPECT_TRUE(holds(page, "<li><b>00.txt</b>: shadowed by 0.txt</li>"));
    EXPECT_TRUE(holds(page, "<li><a href=\"1.txt.html#l-start\">*start</a> 1.txt:1</li>"));
    EXPECT_TRUE(holds(page, "[\"1.txt\",4,2,[[1,\"1.txt.html\"]]]"));

    // A label defined again links to its own anchor, as its page names it.
    analysis::Model twice = modelOf({"*define\ngame\n*Start\n", "*start\n"});
    PageLayout twiceLayout(twice, pagePaths(twice), 0);
    writers::html5::FrontPage plain{"game", {}};
    std::string listed = writers::html5::frontPage(twice, twiceLayout, plain, "site/index.html");
    EXPECT_TRUE(holds(listed, "<li><a href=\"0.txt.html#l-start\">*Start</a> 0.txt:3</li>"));
    EXPECT_TRUE(holds(listed, "<li><a href=\"1.txt.html#l-start-2\">*start</a> 1.txt:1</li>"));
    EXPECT_TRUE(holds(writers::html5::readingPage(twice, twiceLayout, 1, {}), "id=\"l-start-2\""));
}

}  // namespace

namespace {

TEST(ReadingPageLanguage, TakenFromTheText) {
    struct Case {
        const char* name;
        std::string text;
        input::Encoding encoding;
        const char* lang;
    };
    const std::vector<Case> cases = {
        {"kana in CP932", "\x82\xA0\x82\xA2\x82\xA4\x8A\xBF\x8E\x9A@\n", input::Encoding::CP932, "ja"},
        {"an English port with Japanese comments", ";\x82\xA0\x82\xA2\n`Hello there, Kyrie.@\n", input::Encoding::CP932, "en"},
        {"kanji without kana in CP932", "\x8A\xBF\x8E\x9A\x8A\xBF\n", input::Encoding::CP932, "zh"},
        {"half-width kana and a cut lead byte are no letters", "\xB1\xB2\xB3\xB4" "Ab\x8A\n", input::Encoding::CP932, "en"},
        {"Chinese characters without kana", "\xE4\xBD\xA0\xE5\xA5\xBD\xE4\xB8\x96\xE7\x95\x8C\n", input::Encoding::UTF8, "zh"},
        {"kana in UTF-8", "\xE3\x81\x82\xE3\x81\x84\xE6\xBC\xA2\n", input::Encoding::UTF8, "ja"},
    };
    for (const Case& test : cases) {
        std::vector<input::SourceFile> files = {{"a.txt", "a.txt", test.text, test.encoding}};
        analysis::Model model = analysis::analyze(std::move(files), analysis::CommandSet());
        EXPECT_EQ(writers::html5::languageOf(model, 0), test.lang) << test.name;
    }
}

}  // namespace
