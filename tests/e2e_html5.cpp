// -html5 pages and -index runs through the real program.

#include "e2e_support.h"

namespace {

using namespace e2e;

// A run whose standard error is kept too, through the shell.
struct FullOutcome {
    Outcome outcome;
    std::string err;
};

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

FullOutcome runKeepingStderr(const Sandbox& box, const std::vector<std::string>& args) {
    std::string command = "./hibarune";
    for (const std::string& arg : args) (command += ' ') += shellQuoted(arg);
    command += " 2>stderr.out";
    FullOutcome result{run("/bin/sh", {"-c", command}, box.dir), {}};
    result.err = box.read("stderr.out").value_or("<no stderr>");
    fs::remove(box.dir / "stderr.out");
    return result;
}

// One line of the page: the script's bytes and the markup of its tokens.
struct PageLine {
    std::string raw;
    std::string html;
};

std::string span(const std::string& className, const std::string& html) {
    return "<span class=\"" + className + "\">" + html + "</span>";
}

// "\x82\xA0" is "あ", "\x8A\xBF" is "漢".
const std::vector<PageLine> sampleLines = {
    {"*define", "<a class=\"sl\" id=\"l-define\" href=\"#l-define\">*define</a>"},
    {"game\t;<&>\"\x82\xA0\"", span("dc", "game") + span("w", "\t") + span("c", ";&lt;&amp;&gt;&quot;\xE3\x81\x82&quot;")},
    {"*start", "<a class=\"sl\" id=\"l-start\" href=\"#l-start\">*start</a>"},
    {"", ""},
    {"bg \"a<b\",1:goto *START",
     span("ec", "bg") + span("w", " ") + span("lt", "&quot;a&lt;b&quot;") + span("as", ",") + span("nu", "1") +
         span("op", ":") + span("sy", "goto") + span("w", " ") + "<a class=\"gl\" href=\"#l-start\">*START</a>"},
    {"goto *nowhere", span("sy", "goto") + span("w", " ") + "<a class=\"gl\" data-to=\"nowhere\">*nowhere</a>"},
    {"\x8A\xBF!w500@\\", span("s", "\xE6\xBC\xA2") + span("sc", "!w500") + span("sc", "@") + span("sc", "\\")},
};

std::string scriptOfLines(const std::vector<PageLine>& lines) {
    std::string script;
    for (const PageLine& line : lines) script += line.raw + "\r\n";
    return script;
}

std::string expectedCode(const std::vector<PageLine>& lines, bool numbers) {
    std::string code = "<pre class=\"code\">";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        code += "<span class=\"l\" id=\"L" + n + "\">";
        if (numbers) code += "<a class=\"n\" href=\"#L" + n + "\" data-n=\"" + n + "\"></a>";
        code += lines[i].html + "</span>\n";
    }
    return code + "</pre>\n</body>\n</html>\n";
}

std::string codeOf(const std::string& page) {
    std::size_t at = page.find("<pre class=\"code\">");
    return at == std::string::npos ? "<no code>" : page.substr(at);
}

// The script above in UTF-8: its two CP932 characters replaced.
std::string utf8Of(const std::string& cp932) {
    const std::pair<std::string, std::string> characters[] = {{"\x82\xA0", "\xE3\x81\x82"},
                                                              {"\x8A\xBF", "\xE6\xBC\xA2"}};
    std::string utf8 = cp932;
    for (const auto& [from, to] : characters)
        for (std::size_t at = 0; (at = utf8.find(from, at)) != std::string::npos; at += to.size())
            utf8.replace(at, from.size(), to);
    return utf8;
}

TEST(e2eHtml5, PagesWithAndWithoutNumbers) {
    struct Case {
        std::vector<std::string> args;
        std::string script;
        bool numbers;
    };
    const std::string cp932 = scriptOfLines(sampleLines);
    const Case cases[] = {
        {{"-html5", "s.txt"}, cp932, false},
        {{"s.txt", "-lineno", "-html5"}, cp932, true},
        {{"-html5", "-utf8", "s.txt"}, utf8Of(cp932), false},
        {{"-html5", "-utf8", "-lineno", "s.txt"}, "\xEF\xBB\xBF" + utf8Of(cp932), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Sandbox box;
        box.write("s.txt", c.script);
        FullOutcome r = runKeepingStderr(box, c.args);
        EXPECT_EQ(r.outcome.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.outcome.status, 0);
        EXPECT_EQ(box.pages(), std::set<std::string>{"s.txt.html"});
        std::string page = box.read("s.txt.html").value_or("");
        EXPECT_TRUE(page.starts_with("<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"));
        EXPECT_NE(page.find("<meta name=\"viewport\""), std::string::npos);
        EXPECT_NE(page.find("<title>s.txt</title>"), std::string::npos);
        EXPECT_NE(page.find("@media (prefers-color-scheme: dark)"), std::string::npos);
        EXPECT_NE(page.find("<summary>Labels (2)</summary>"), std::string::npos);
        EXPECT_NE(page.find("<li><a href=\"#l-start\">*start</a><span class=\"ln\">3</span></li>"), std::string::npos);
        EXPECT_EQ(codeOf(page), expectedCode(sampleLines, c.numbers));
    }
}

// Three scripts in two directories, one with a blank in its name, converted
// from the directory above them.
struct IndexRun {
    Sandbox box;
    IndexRun() {
        fs::create_directories(box.dir / "a");
        fs::create_directories(box.dir / "b c");
        box.write("a/0.txt", "*start\r\ngoto *chapter1\r\ngoto *ending\r\ngoto *lost\r\n");
        box.write("a/1.txt", "*chapter1\r\ngoto *START\r\n*shared\r\n");
        box.write("b c/2.txt", "*ending\r\n*Shared\r\ngoto *chapter1\r\n;end\r\n\r\n");
    }
    Outcome convert(std::vector<std::string> options) const {
        options.insert(options.end(), {"a/0.txt", "a/1.txt", "b c/2.txt"});
        return box.hibarune(options);
    }
    std::string page(const std::string& name) const { return box.read(name).value_or("<no page " + name + ">"); }
};

bool holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(e2eHtml5, IndexListsThePagesAndLinksAcrossThem) {
    IndexRun run;
    Outcome r = run.convert({"-html5", "-index"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(run.box.pages(), std::set<std::string>{"index.html"});

    std::string zero = run.page("a/0.txt.html"), one = run.page("a/1.txt.html"), two = run.page("b c/2.txt.html");
    EXPECT_TRUE(holds(zero, "<a class=\"gl\" href=\"1.txt.html#l-chapter1\">*chapter1</a>"));
    EXPECT_TRUE(holds(zero, "<a class=\"gl\" href=\"../b%20c/2.txt.html#l-ending\">*ending</a>"));
    EXPECT_TRUE(holds(zero, "<a class=\"gl\" data-to=\"lost\">*lost</a>"));
    EXPECT_TRUE(holds(one, "<a class=\"gl\" href=\"0.txt.html#l-start\">*START</a>"));
    EXPECT_TRUE(holds(two, "<a class=\"gl\" href=\"../a/1.txt.html#l-chapter1\">*chapter1</a>"));
    // A name defined in two scripts: each page keeps its own definition's id.
    EXPECT_TRUE(holds(one, "id=\"l-shared\""));
    EXPECT_TRUE(holds(two, "id=\"l-shared\""));

    std::string index = run.page("index.html");
    EXPECT_TRUE(index.starts_with("<!DOCTYPE html>\n"));
    EXPECT_TRUE(holds(index, "<h1>Scripts (3)</h1>"));
    const std::string entries[] = {
        "<li><a href=\"a/0.txt.html\">0.txt</a><span class=\"ln\">4 lines</span>",
        "<li><a href=\"a/0.txt.html#l-start\">*start</a><span class=\"ln\">1</span></li>",
        "<li><a href=\"a/1.txt.html\">1.txt</a><span class=\"ln\">3 lines</span>",
        "<li><a href=\"a/1.txt.html#l-chapter1\">*chapter1</a><span class=\"ln\">1</span></li>",
        "<li><a href=\"a/1.txt.html#l-shared\">*shared</a><span class=\"ln\">3</span></li>",
        "<li><a href=\"b%20c/2.txt.html\">2.txt</a><span class=\"ln\">5 lines</span>",
        "<li><a href=\"b%20c/2.txt.html#l-ending\">*ending</a><span class=\"ln\">1</span></li>",
        "<li><a href=\"b%20c/2.txt.html#l-shared\">*Shared</a><span class=\"ln\">2</span></li>",
    };
    std::size_t last = 0;
    for (const std::string& entry : entries) {
        std::size_t at = index.find(entry);
        EXPECT_NE(at, std::string::npos) << entry;
        EXPECT_GE(at, last) << "out of order: " << entry;
        if (at != std::string::npos) last = at;
    }
}

// -o DIR: the pages and the index in DIR, linked by their file names; a
// script named twice is listed once.
TEST(e2eHtml5, OutputFolderHoldsThePagesAndTheIndex) {
    IndexRun run;
    Outcome r = run.convert({"-html5", "-index", "-o", "out"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(run.box.pages().empty());
    EXPECT_FALSE(fs::exists(run.box.dir / "a/0.txt.html"));
    std::string zero = run.page("out/0.txt.html"), index = run.page("out/index.html");
    EXPECT_TRUE(holds(zero, "<a class=\"gl\" href=\"1.txt.html#l-chapter1\">*chapter1</a>"));
    EXPECT_TRUE(holds(zero, "<a class=\"gl\" href=\"2.txt.html#l-ending\">*ending</a>"));
    EXPECT_TRUE(holds(index, "<li><a href=\"0.txt.html\">0.txt</a>"));
    EXPECT_TRUE(holds(index, "<li><a href=\"2.txt.html#l-ending\">*ending</a>"));

    Outcome twice = run.box.hibarune({"-html5", "-index", "-o", "once", "a/0.txt", "./a/0.txt", "a/../a/0.txt"});
    EXPECT_EQ(twice.status, 0);
    EXPECT_TRUE(holds(run.page("once/index.html"), "<h1>Scripts (1)</h1>"));
}

// Pages held for the index keep only what their labels take: a game of
// many small scripts does not cost megabytes a page.
TEST(e2eHtml5, ManySmallPagesHeldForTheIndexStaySmall) {
    Sandbox box;
    std::vector<std::string> args{"-html5", "-index"};
    for (int k = 0; k < 400; ++k) {
        std::string name = std::to_string(k) + ".txt";
        box.write(name, "*scene" + std::to_string(k) + "\r\ngoto *scene" + std::to_string((k + 1) % 400) + "\r\n");
        args.push_back(name);
    }
    Outcome one = box.hibarune({"-html5", "-index", "0.txt"});
    Outcome r = box.hibarune(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(holds(box.read("7.txt.html").value_or(""), "<a class=\"gl\" href=\"8.txt.html#l-scene8\">*scene8</a>"));
    EXPECT_LT(r.peakKiB - one.peakKiB, 32 * 1024) << "400 pages of two lines against one";
}

// Without -index every page stands alone: no index.html, and labels of
// other scripts are not linked.
TEST(e2eHtml5, WithoutIndexNothingMore) {
    IndexRun run;
    Outcome r = run.convert({"-html5"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(run.box.pages(), std::set<std::string>{});
    EXPECT_FALSE(fs::exists(run.box.dir / "index.html"));
    std::string zero = run.page("a/0.txt.html");
    EXPECT_TRUE(holds(zero, "<a class=\"gl\" data-to=\"chapter1\">*chapter1</a>"));
    EXPECT_TRUE(holds(zero, "<a class=\"gl\" data-to=\"ending\">*ending</a>"));
    // -index means nothing outside -html5.
    IndexRun legacy;
    EXPECT_EQ(legacy.convert({"-index"}).status, 0);
    EXPECT_FALSE(fs::exists(legacy.box.dir / "index.html"));
}

// A label defined twice: the first keeps the name's id and the links, the
// second gets an id of its own; -lenient says so on standard error.
TEST(e2eHtml5, LabelDefinedTwice) {
    const std::string script = "*scene\r\ngoto *scene\r\n;x\r\n  *SCENE\r\n*scene\r\n";
    const std::string warnings =
        "s.txt:4:3: warning: label *SCENE is defined again (first on line 1); links go to the first\n"
        "s.txt:5:1: warning: label *scene is defined again (first on line 1); links go to the first\n";
    for (bool lenient : {false, true}) {
        SCOPED_TRACE(lenient ? "lenient" : "strict");
        Sandbox box;
        box.write("s.txt", script);
        std::vector<std::string> args = {"-html5", "s.txt"};
        if (lenient) args.push_back("-lenient");
        FullOutcome r = runKeepingStderr(box, args);
        EXPECT_EQ(r.outcome.out, "");
        EXPECT_EQ(r.outcome.status, 0);
        EXPECT_EQ(r.err, lenient ? warnings : "");
        std::string page = box.read("s.txt.html").value_or("");
        EXPECT_TRUE(holds(page, "<a class=\"tl\" id=\"l-scene\" href=\"#l-scene\">*scene</a>"));
        EXPECT_TRUE(holds(page, "<a class=\"gl\" href=\"#l-scene\">*scene</a>"));
        EXPECT_TRUE(holds(page, "<a class=\"tl\" id=\"l-scene-2\" href=\"#l-scene-2\">*SCENE</a>"));
        EXPECT_TRUE(holds(page, "<a class=\"tl\" id=\"l-scene-3\" href=\"#l-scene-3\">*scene</a>"));
    }
}

// A script that does not tokenize: the same message, note and status in
// -html5 as in the other modes, and no page: an index of an earlier run stays.
TEST(e2eHtml5, TokenizerErrorAsInTheOtherModes) {
    const std::string bad = "*start\r\nmov %0,1\r\n!x\r\n";
    std::optional<FullOutcome> legacy;
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, {"-class"}, {"-text", "-lineno"}, {"-html5"}, {"-html5", "-lineno"},
          {"-html5", "-index"}}) {
        SCOPED_TRACE(testing::PrintToString(options));
        Sandbox box;
        box.write("bad.txt", bad);
        box.write("bad.txt.html", "old page");
        box.write("index.html", "old index");
        std::vector<std::string> args = options;
        args.push_back("bad.txt");
        FullOutcome r = runKeepingStderr(box, args);
        EXPECT_EQ(r.outcome.out, "2: input 'd', 's', 'sd', 'w' follow '!'\n");
        EXPECT_EQ(r.outcome.status, 1);
        if (!legacy) legacy = r;
        EXPECT_EQ(r.err, legacy->err);
        EXPECT_TRUE(r.err.starts_with("bad.txt:3:1: error: ")) << r.err;
        EXPECT_EQ(box.read("bad.txt.html"), "old page");
        EXPECT_EQ(box.read("index.html"), "old index");
        EXPECT_EQ(box.pages(), (std::set<std::string>{"bad.txt.html", "index.html"}));
    }
}

// An index of 100,000 labels lists every one of them.
TEST(e2eHtml5, IndexOfHundredThousandLabels) {
    Sandbox box;
    std::string script;
    for (int i = 0; i < 100000; ++i) script += "*l" + std::to_string(i) + "\r\ngoto *l" + std::to_string(i) + "\r\n";
    box.write("s.txt", script);
    Outcome r = box.hibarune({"-html5", "-index", "s.txt"});
    EXPECT_EQ(r.status, 0);
    std::string index = box.read("index.html").value_or("");
    EXPECT_TRUE(holds(index, "<span class=\"ln\">200000 lines</span>"));
    EXPECT_TRUE(holds(index, "<summary>Labels (100000)</summary>"));
    std::size_t entries = 0;
    for (std::size_t at = 0; (at = index.find("<li><a href=\"s.txt.html#l-l", at)) != std::string::npos; ++at)
        ++entries;
    EXPECT_EQ(entries, 100000u);
    EXPECT_TRUE(holds(index, "<li><a href=\"s.txt.html#l-l99999\">*l99999</a><span class=\"ln\">199999</span></li>"));
}

}  // namespace
