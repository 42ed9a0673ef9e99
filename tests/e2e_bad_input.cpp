// Bad input through the real program: one message, exit status 1, earlier
// pages kept, and no page (old or new) touched for the failing script.

#include <map>

#include "e2e_support.h"

namespace {

using namespace e2e;

const std::vector<Line> goodScript = {{";ok", {{"COMMENT", ";ok"}}}};

std::string longScriptWithBadLastLine() {
    std::string script;
    for (int i = 0; i < 2000; ++i) script += "mov %0,1\r\n";
    return script + "mov %0,#fff\r\n";
}

struct BadCase {
    const char* name;
    std::optional<std::string> commands;
    std::vector<std::string> dirs;              // made before the run, must stay empty directories
    std::map<std::string, std::string> files;   // scripts and configuration written before the run
    std::vector<std::string> args;
    std::string message;                        // "{dir}" stands for the program's directory
    std::vector<std::string> kept;              // old pages made before the run, must stay as they were
    std::map<std::string, std::string> fresh;   // pages that must be written, with their bytes
};

TEST(e2eBadInput, OneMessageAndNoPageForTheFailingScript) {
    const std::string good = scriptOf(goodScript);
    const std::string convert = "Couldn't convert string: Invalid or incomplete multibyte or wide character";
    const std::string badCommands = "bad format the description of reserved commands";
    const BadCase cases[] = {
        {"script missing", testCommands, {}, {}, {"x.txt"}, "x.txt: No such file or directory", {"x.txt.html"}, {}},
        {"script is a directory", testCommands, {"x.txt"}, {}, {"x.txt"}, "x.txt: not a regular file",
         {"x.txt.html"}, {}},
        {"empty file argument", testCommands, {}, {}, {""}, ": No such file or directory", {".html"}, {}},
        {"commands.txt missing", std::nullopt, {}, {{"x.txt", good}}, {"x.txt"},
         "{dir}/commands.txt: No such file or directory", {"x.txt.html"}, {}},
        {"commands.txt blank line", "game,F\r\n\r\nbg,E\r\n", {}, {{"x.txt", good}}, {"x.txt"}, badCommands,
         {"x.txt.html"}, {}},
        {"commands.txt three fields", "game,F\r\nbg,E,X\r\n", {}, {{"x.txt", good}}, {"x.txt"}, badCommands,
         {"x.txt.html"}, {}},
        {"commands.txt two line ends at the end", "game,F\r\nbg,E\n\n", {}, {{"x.txt", good}}, {"x.txt"},
         badCommands, {"x.txt.html"}, {}},
        {"commands.txt is a directory", std::nullopt, {"commands.txt"}, {{"x.txt", good}}, {"x.txt"},
         "{dir}/commands.txt: not a regular file", {"x.txt.html"}, {}},
        {"color.txt is a directory", testCommands, {"color.txt"}, {{"x.txt", good}}, {"-class", "x.txt"},
         "color.txt: not a regular file", {"x.txt.html"}, {}},
        {"invalid CP932 byte", testCommands, {}, {{"x.txt", "ok\r\n\x82\xA0\x80\x82\xA0\r\nok\r\n"}}, {"x.txt"},
         convert, {"x.txt.html"}, {}},
        {"line ends inside a double-byte character", testCommands, {}, {{"x.txt", "ok\r\n\x82\xA0\x82\r\nok\r\n"}},
         {"-text", "x.txt"}, convert, {"x.txt.html"}, {}},
        {"double-byte character cut by the end of the file", testCommands, {}, {{"x.txt", "ok\r\n\x82"}},
         {"x.txt"}, convert, {"x.txt.html"}, {}},
        {"page path is a directory", testCommands, {"x.txt.html"}, {{"x.txt", good}}, {"x.txt"},
         "x.txt.html: not a regular file", {}, {}},
        {"tokenizer error on the last line", testCommands, {}, {{"x.txt", longScriptWithBadLastLine()}},
         {"x.txt", "-lineno"}, "2000: the format of color is #[0-9a-fA-F]{6}", {"x.txt.html"}, {}},
        {"middle script bad", testCommands, {}, {{"a.txt", good}, {"b.txt", "ok\r\n!x\r\n"}, {"c.txt", good}},
         {"a.txt", "b.txt", "c.txt"}, "1: input 'd', 's', 'sd', 'w' follow '!'", {"b.txt.html"},
         {{"a.txt.html", expectedPage(Mode::style, false, goodScript)}}},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box(c.commands);
        for (const std::string& d : c.dirs) fs::create_directory(box.dir / d);
        for (const auto& [name, bytes] : c.files) box.write(name, bytes);
        auto oldPage = [](const std::string& name) { return "old page \x82\xA0 of " + name + "\r\n"; };
        for (const std::string& name : c.kept) box.write(name, oldPage(name));

        Outcome r = box.hibarune(c.args);
        EXPECT_EQ(r.out, withDir(c.message, box.dir) + "\n");
        EXPECT_EQ(r.status, 1);

        std::set<std::string> expectedPages(c.kept.begin(), c.kept.end());
        for (const std::string& name : c.kept) EXPECT_EQ(box.read(name), oldPage(name)) << name;
        for (const auto& [name, bytes] : c.fresh) {
            expectedPages.insert(name);
            EXPECT_EQ(box.read(name), bytes) << name;
        }
        EXPECT_EQ(box.pages(), expectedPages);
        for (const std::string& d : c.dirs)
            EXPECT_TRUE(fs::is_directory(box.dir / d) && fs::is_empty(box.dir / d)) << d;
    }
}

}  // namespace
