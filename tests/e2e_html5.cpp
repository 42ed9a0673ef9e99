// -html5 pages and -index runs through the real program.

#include <chrono>

#include <algorithm>

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

bool holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The commands the scripts below use, as commands.txt lists them.
const std::string commands = "game,F\r\nbg,E\r\nmov,FE\r\ngoto,FE\r\ndefsub,F\r\nnumalias,F\r\nreturn,FE\r\n";

// Sandboxes for a run: the program, commands.txt and the scripts.
Sandbox sandbox() { return Sandbox(commands); }

// A script of every kind of line, CP932; "\x82\xA0" is "あ", "\x8A\xBF" is "漢".
const std::string sample =
    "*define\r\n"
    "game\t;<&>\"\x82\xA0\"\r\n"
    "defsub hello\r\n"
    "numalias hp,30\r\n"
    "*start\r\n"
    "\r\n"
    "bg \"a<b\",1:goto *START\r\n"
    "goto *nowhere\r\n"
    "\x8A\xBF!w500@\\\r\n"
    "`Hello \"quoted\" for if next *rumble @\r\n"
    "hello %hp\r\n"
    "frob 1\r\n"
    "*hello\r\n"
    "return\r\n";

std::string utf8Of(std::string text) {
    const std::pair<std::string, std::string> characters[] = {{"\x82\xA0", "\xE3\x81\x82"}, {"\x8A\xBF", "\xE6\xBC\xA2"}};
    for (const auto& [from, to] : characters)
        for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
            text.replace(at, from.size(), to);
    return text;
}

// What each kind of line becomes, whatever the options: fragments of the page.
const std::string sampleFragments[] = {
    // a command line: command words by kind, a string escaped, a label
    // reference linked after the ':' that starts a statement
    "<span id=\"L7\"><span class=\"ec\">bg</span> <span class=\"lt\">&quot;a&lt;b&quot;</span>,1:"
    "<span class=\"cc\">goto</span> <a class=\"gl\" href=\"#l-start\">*START</a></span>",
    // a comment escaped, the script's CP932 in UTF-8
    "<span class=\"c\">;&lt;&amp;&gt;&quot;\xE3\x81\x82&quot;</span></span>",
    // text: only its codes are marked
    "<span id=\"L9\">\xE6\xBC\xA2<span class=\"sc\">!w500@\\</span></span>",
    "<span id=\"L10\">`Hello &quot;quoted&quot; for if next *rumble <span class=\"sc\">@</span></span>",
    // a label line and who refers to it
    "<a class=\"tl\" id=\"l-start\">*start</a><span class=\"refs\">2 references: "
    "<a href=\"#L2\" title=\"game\">2</a> <a href=\"#L7\" title=\"goto\">7</a></span></span>",
    "<a class=\"tl\" id=\"l-define\">*define</a><span class=\"refs none\"></span>",
    // a user command, its definition and its call; an alias and its use
    "<span class=\"dc\">defsub</span> <a class=\"uc\" href=\"#l-hello\">hello</a></span>",
    "<span id=\"L11\"><a class=\"uc\" href=\"#l-hello\">hello</a> <a class=\"al\" href=\"#a-hp\">%hp</a></span>",
    "<span class=\"ad\" id=\"a-hp\" title=\"numalias hp = 30, s.txt:4\">hp</span>,30",
    "\"u-hello\":\"user command hello, defined at s.txt:3\"",
    "\"a-hp\":\"numalias hp = 30, s.txt:4\"",
    // what is not there
    "<span class=\"gl u\" title=\"no label *nowhere\" data-to=\"nowhere\">*nowhere</span>",
    "<span class=\"uk\" title=\"unknown command\">frob</span> 1</span>",
    // an empty line; the block's last line ends it without a line end
    "<span id=\"L6\"></span>\n<span id=\"L7\">",
    "<span class=\"cc\">return</span></span></pre>\n</main>",
    "<li><a href=\"#l-start\">*start</a><span class=\"ln\">5</span></li>",
};

TEST(e2eHtml5, PagesPerOptionSet) {
    struct Case {
        std::vector<std::string> args;
        std::string script;
        bool numbers;
    };
    const Case cases[] = {
        {{"-html5", "s.txt"}, sample, false},
        {{"s.txt", "-lineno", "-html5"}, sample, true},
        {{"-html5", "-utf8", "-check", "s.txt"}, utf8Of(sample), false},
        {{"-html5", "-utf8", "-lineno", "s.txt"}, utf8Of(sample), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Sandbox box = sandbox();
        box.write("s.txt", c.script);
        FullOutcome r = runKeepingStderr(box, c.args);
        EXPECT_EQ(r.outcome.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.outcome.status, 0);
        EXPECT_EQ(box.pages(), std::set<std::string>{"s.txt.html"});
        std::string page = box.read("s.txt.html").value_or("");
        EXPECT_TRUE(page.starts_with("<!DOCTYPE html>\n<html lang=\"")) << page.substr(0, 100);
        EXPECT_TRUE(holds(page, "<head>\n<meta charset=\"utf-8\">\n"));
        EXPECT_TRUE(holds(page, "<title>s.txt</title>"));
        EXPECT_TRUE(holds(page, "@media (prefers-color-scheme: dark)"));
        EXPECT_TRUE(holds(page, "<nav class=\"bar\"><b class=\"here\">s.txt</b></nav>"));
        for (const std::string& fragment : sampleFragments) EXPECT_TRUE(holds(page, fragment)) << fragment;
        // With -check, the checks' findings mark their lines.
        bool checked = std::find(c.args.begin(), c.args.end(), "-check") != c.args.end();
        EXPECT_EQ(holds(page, "<span class=\"fd\" id=\"L12\" title=\"unknown command frob [unknown-command]\">"), checked);
        // Numbers are drawn from a counter the first line of a block sets.
        EXPECT_EQ(holds(page, "content:counter(n)"), c.numbers);
        EXPECT_TRUE(holds(page, c.numbers ? "<pre class=\"b\" style=\"contain-intrinsic-size:auto 21em\">"
                                            "<span id=\"L1\" style=\"counter-set:n 1\">"
                                          : "<pre class=\"b\" style=\"contain-intrinsic-size:auto 21em\"><span id=\"L1\">"));
    }
}

// Lines of 256 to a block, each block numbered from its own first line.
TEST(e2eHtml5, BlocksOfLines) {
    Sandbox box = sandbox();
    std::string script;
    for (int i = 1; i <= 600; ++i) script += "mov %0," + std::to_string(i) + "\r\n";
    box.write("s.txt", script);
    ASSERT_EQ(box.hibarune({"-html5", "-lineno", "s.txt"}).status, 0);
    std::string page = box.read("s.txt.html").value_or("");
    EXPECT_TRUE(holds(page, "</span></pre>\n<pre class=\"b\"><span id=\"L257\" style=\"counter-set:n 257\">"));
    EXPECT_TRUE(holds(page, "<pre class=\"b\" style=\"contain-intrinsic-size:auto 132em\"><span id=\"L513\" "));
}

// Three scripts in two folders, one named with a blank and an '&', converted
// from the folder above them.
struct IndexRun {
    Sandbox box = sandbox();
    IndexRun() {
        fs::create_directories(box.dir / "a");
        fs::create_directories(box.dir / "b c&d");
        box.write("a/0.txt", "*start\r\ngoto *chapter1\r\ngoto *ending\r\ngoto *lost\r\n");
        box.write("a/1.txt", "*chapter1\r\ngoto *START\r\n*shared\r\n");
        box.write("b c&d/2.txt", "*ending\r\n*Shared\r\ngoto *chapter1\r\n;end\r\n\r\n");
    }
    Outcome convert(std::vector<std::string> options) const {
        options.insert(options.end(), {"a/0.txt", "a/1.txt", "b c&d/2.txt"});
        return box.hibarune(options);
    }
    std::string page(const std::string& name) const { return box.read(name).value_or("<no page " + name + ">"); }
};

TEST(e2eHtml5, IndexLinksAcrossScriptsAndFolders) {
    IndexRun run;
    Outcome r = run.convert({"-html5", "-index"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(run.box.pages(), std::set<std::string>{"index.html"});
    const std::pair<std::string, std::string> fragments[] = {
        {"a/0.txt.html", "<a class=\"gl\" href=\"1.txt.html#l-chapter1\">*chapter1</a>"},
        {"a/0.txt.html", "<a class=\"gl\" href=\"../b%20c%26d/2.txt.html#l-ending\">*ending</a>"},
        {"a/0.txt.html", "<span class=\"gl u\" title=\"no label *lost\" data-to=\"lost\">*lost</span>"},
        {"a/1.txt.html", "<a class=\"gl\" href=\"0.txt.html#l-start\">*START</a>"},
        {"a/1.txt.html", "<span class=\"refs\">2 references: <a href=\"0.txt.html#L2\" title=\"goto\">0.txt:2</a> "
                         "<a href=\"../b%20c%26d/2.txt.html#L3\" title=\"goto\">2.txt:3</a></span>"},
        {"b c&d/2.txt.html", "<a class=\"gl\" href=\"../a/1.txt.html#l-chapter1\">*chapter1</a>"},
        {"b c&d/2.txt.html", "<a class=\"home\" href=\"../index.html\">"},
        // one name in two scripts: the second definition has an id of its own
        {"a/1.txt.html", "id=\"l-shared\""},
        {"b c&d/2.txt.html", "id=\"l-shared-2\""},
        {"index.html", "<tr><td><a href=\"a/0.txt.html\">0.txt</a></td><td>CP932</td><td>50</td><td>4</td><td>1–5</td></tr>"},
        {"index.html", "<tr><td><a href=\"b%20c%26d/2.txt.html\">2.txt</a></td>"},
        {"index.html", "<li><a href=\"b%20c%26d/2.txt.html#l-ending\">*ending</a> 2.txt:1</li>"},
        {"index.html", "<form id=\"go\">"},
        {"index.html", "<input id=\"filter\""},
    };
    for (const auto& [name, fragment] : fragments) EXPECT_TRUE(holds(run.page(name), fragment)) << name << ": " << fragment;
    EXPECT_FALSE(holds(run.page("index.html"), run.box.dir.string())) << "an absolute path in the index";
}

// Without -index no index.html is written, and no page links to one.
TEST(e2eHtml5, WithoutIndexNothingMore) {
    IndexRun run;
    Outcome r = run.convert({"-html5"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(fs::exists(run.box.dir / "index.html"));
    std::string zero = run.page("a/0.txt.html");
    EXPECT_FALSE(holds(zero, "class=\"home\""));
    IndexRun legacy;  // -index means nothing outside -html5
    EXPECT_EQ(legacy.convert({"-index"}).status, 0);
    EXPECT_FALSE(fs::exists(legacy.box.dir / "index.html"));
}

// A label defined twice: the first keeps the name's id and the links, the
// others get ids of their own and say where the links go.
TEST(e2eHtml5, LabelDefinedTwice) {
    for (bool lenient : {false, true}) {
        SCOPED_TRACE(lenient ? "lenient" : "strict");
        Sandbox box = sandbox();
        box.write("s.txt", "*scene\r\ngoto *scene\r\n;x\r\n  *SCENE\r\n*scene\r\n");
        std::vector<std::string> args = {"-html5", "s.txt"};
        if (lenient) args.push_back("-lenient");
        FullOutcome r = runKeepingStderr(box, args);
        EXPECT_EQ(r.outcome.status, 0);
        std::string page = box.read("s.txt.html").value_or("");
        EXPECT_TRUE(holds(page, "<a class=\"tl dup\" id=\"l-scene\">*scene</a>"));
        EXPECT_TRUE(holds(page, "<a class=\"gl\" href=\"#l-scene\">*scene</a>"));
        EXPECT_TRUE(holds(page, "<a class=\"tl dup\" id=\"l-scene-2\">*SCENE</a>"));
        EXPECT_TRUE(holds(page, "id=\"l-scene-3\""));
        EXPECT_TRUE(holds(page, "\"l-scene\":\"label *scene is defined 3 times; links go to s.txt:1\""));
        // With -lenient, the checks' findings are warnings.
        EXPECT_EQ(holds(r.err, "s.txt:4:4: warning: label *SCENE is defined again"), lenient) << r.err;
    }
}

// Strict -html5 reads every line; only bytes not valid in the script's
// encoding fail it, and then no page is written over an earlier one.
TEST(e2eHtml5, StrictRuns) {
    struct Case {
        std::vector<std::string> options;
        std::string script;
        int status;
        std::string err;
    };
    const std::string oldRules = "*start\r\nmov %0,1\r\n!x\r\n";
    const std::string badBytes = "*start\r\nmov %0,1\r\n\x82\r\nend\r\n";
    const Case cases[] = {
        {{"-html5"}, oldRules, 0, ""},
        {{}, oldRules, 1, "s.txt:3:1: error: "},
        {{"-html5"}, badBytes, 1, "s.txt:3:1: error: not valid CP932"},
        {{"-html5", "-index"}, badBytes, 1, "s.txt:3:1: error: not valid CP932"},
        {{"-html5", "-lenient"}, badBytes, 0, "s.txt:3:1: warning: not valid CP932"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options) + (c.script == oldRules ? " old rules" : " bad bytes"));
        Sandbox box = sandbox();
        box.write("s.txt", c.script);
        box.write("s.txt.html", "old page");
        box.write("index.html", "old index");
        std::vector<std::string> args = c.options;
        args.push_back("s.txt");
        FullOutcome r = runKeepingStderr(box, args);
        EXPECT_EQ(r.outcome.status, c.status);
        EXPECT_TRUE(r.err.starts_with(c.err)) << r.err;
        if (c.status != 0) {
            EXPECT_EQ(box.read("s.txt.html"), "old page");
        }
        EXPECT_EQ(box.read("index.html"), "old index");
        if (c.status == 0 && !c.options.empty()) {
            std::string page = box.read("s.txt.html").value_or("");
            EXPECT_TRUE(holds(page, "<span id=\"L3\">")) << page.substr(0, 200);
        }
    }
}

// 100,000 labels, each referred to: the page and the index are written in
// bounded time, every label linked.
TEST(e2eHtml5, HundredThousandLabels) {
    Sandbox box = sandbox();
    std::string script;
    for (int i = 0; i < 100000; ++i) script += "*l" + std::to_string(i) + "\r\ngoto *l" + std::to_string(i) + "\r\n";
    box.write("s.txt", script);
    auto started = std::chrono::steady_clock::now();
    Outcome r = box.hibarune({"-html5", "-index", "-split", "0", "s.txt"});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(r.status, 0);
    EXPECT_LT(seconds, 30.0);
    std::string page = box.read("s.txt.html").value_or("");
    EXPECT_TRUE(holds(page, "<span id=\"L199999\"><a class=\"tl\" id=\"l-l99999\">*l99999</a>"
                            "<span class=\"refs\">1 reference: <a href=\"#L200000\" title=\"goto\">200000</a></span>"));
    EXPECT_TRUE(holds(page, "<a class=\"gl\" href=\"#l-l99999\">*l99999</a>"));
    std::string index = box.read("index.html").value_or("");
    EXPECT_TRUE(holds(index, "<h2>Labels (100000)</h2>"));
    EXPECT_TRUE(holds(index, "<a href=\"s.txt.html#l-l99999\">*l99999</a>"));
}

}  // namespace
