// A game folder read as the engine reads it, written as a site.

#include "e2e_support.h"

namespace {

using namespace e2e;

// The run's standard error, through the shell.
std::string stderrOf(const Sandbox& box, const std::string& arguments, int& status) {
    status = run("/bin/sh", {"-c", "./hibarune " + arguments + " 2>stderr.out"}, box.dir).status;
    std::string err = box.read("stderr.out").value_or("");
    fs::remove(box.dir / "stderr.out");
    return err;
}

bool holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The engine's bytes of nscript.dat: every byte XOR 0x84.
std::string xored(std::string text) {
    for (char& c : text) c = static_cast<char>(c ^ 0x84);
    return text;
}

TEST(e2eGame, AFolderIsReadInTheEnginesOrderAndWrittenAsASite) {
    Sandbox box;
    fs::create_directories(box.dir / "game");
    box.write("game/0.txt", "*define\r\ndefsub face\r\ngame\r\n*start\r\nface\r\ngoto *two\r\n");
    box.write("game/00.txt", "*shadowed\r\n");
    box.write("game/1.txt", "*face\r\nreturn\r\n");
    box.write("game/3.txt", "*two\r\ngoto *start\r\n");
    int status = 0;
    std::string err = stderrOf(box, "-html5 -o site game", status);
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(holds(err, "00.txt: warning: not read by the engine")) << err;
    std::set<std::string> written;
    for (const auto& entry : fs::directory_iterator(box.dir / "site")) written.insert(entry.path().filename().string());
    EXPECT_EQ(written, (std::set<std::string>{"0.txt.html", "1.txt.html", "3.txt.html", "index.html"}));
    std::string zero = box.read("site/0.txt.html").value_or("");
    EXPECT_TRUE(holds(zero, "<a class=\"uc\" href=\"1.txt.html#l-face\">face</a>"));
    EXPECT_TRUE(holds(zero, "<a class=\"gl\" href=\"3.txt.html#l-two\">*two</a>"));
    EXPECT_TRUE(holds(zero, "<a class=\"home\" href=\"index.html\">game</a>"));
    EXPECT_TRUE(holds(zero, "<a rel=\"next\" href=\"1.txt.html\">"));
    std::string front = box.read("site/index.html").value_or("");
    EXPECT_TRUE(holds(front, "<h1>game</h1>"));
    EXPECT_TRUE(holds(front, "<b>00.txt</b>"));
    EXPECT_TRUE(holds(front, "<td>1.txt</a></td><td>CP932</td>") || holds(front, ">1.txt</a></td><td>CP932</td>"));
    EXPECT_FALSE(holds(front, box.dir.string())) << "no path of this machine on a page";

    // The checker reads the same game: the shadowed file is a finding.
    Outcome checked = box.hibarune({"-check", "game"});
    EXPECT_EQ(checked.status, 0);
    EXPECT_TRUE(holds(checked.out, "game/00.txt:1:1: warning: not read by the engine: shadowed by 0.txt [file-shadowed]"))
        << checked.out;
}

TEST(e2eGame, EncodedAndOddGames) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        int status;
        std::string page;     // a page that must be written ("" none)
        std::string message;  // a part of standard error
    };
    const std::vector<Case> cases = {
        {"nscript.dat", {{"nscript.dat", xored("*start\r\n`Hello@\r\n")}}, 0, "nscript.dat.html", ""},
        {"an empty folder", {}, 1, "", "no script"},
        {"nscript.___ alone", {{"nscript.___", "\x01\x02"}}, 1, "", "nscript.___"},
        {"binary junk", {{"0.txt", std::string("\x80\xff\xfe\x00\x81", 5)}}, 1, "", "0.txt"},
    };
    for (const Case& test : cases) {
        Sandbox box;
        fs::create_directories(box.dir / "game");
        for (const auto& [name, bytes] : test.files) box.write("game/" + name, bytes);
        int status = 0;
        std::string err = stderrOf(box, "-html5 -o site game", status);
        EXPECT_EQ(status, test.status) << test.name << ": " << err;
        if (!test.page.empty()) {
            EXPECT_TRUE(box.read("site/" + test.page).has_value()) << test.name;
        }
        EXPECT_TRUE(holds(err, test.message)) << test.name << ": " << err;
    }
}

}  // namespace

namespace {

std::size_t pagesOf(const Sandbox& box, const std::string& script) {
    std::size_t pages = 0;
    for (const auto& entry : fs::directory_iterator(box.dir)) {
        std::string name = entry.path().filename().string();
        pages += name.starts_with(script + ".") && name.ends_with(".html") ? 1 : 0;
    }
    return pages;
}

TEST(e2eGame, LargeAndOddScriptsAreCutIntoParts) {
    std::string labels;
    for (int k = 0; k < 100000; ++k) labels += "*l" + std::to_string(k) + "\n";
    std::string noLabels;
    for (int k = 0; k < 100000; ++k) noLabels += "mov %0,1\n";
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> options;
        int status;
        std::size_t pages;
    };
    const std::vector<Case> cases = {
        {"one 10 MB line", "`" + std::string(10000000, 'a') + "\n", {}, 0, 1},
        {"2 million empty lines", std::string(2000000, '\n'), {}, 0, 100},
        {"a label on every line", labels, {}, 0, 5},
        {"no label in 100,000 lines", noLabels, {}, 0, 5},
        {"never split", noLabels, {"-split", "0"}, 0, 1},
        {"a negative split", noLabels, {"-split", "-5"}, 1, 0},
        {"a split of no number", noLabels, {"-split", "many"}, 1, 0},
        {"a split too small", noLabels, {"-split", "50"}, 1, 0},
    };
    for (const Case& test : cases) {
        Sandbox box;
        box.write("a.txt", test.script);
        std::vector<std::string> args = {"-html5", "-lineno", "a.txt"};
        args.insert(args.begin(), test.options.begin(), test.options.end());
        Outcome outcome = box.hibarune(args);
        EXPECT_EQ(outcome.status, test.status) << test.name;
        EXPECT_EQ(pagesOf(box, "a.txt"), test.pages) << test.name;
    }
}

}  // namespace
