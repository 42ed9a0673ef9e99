// The command line of the real program: usage, options, several scripts,
// and the exit status of each run.

#include <map>

#include "e2e_support.h"

namespace {

using namespace e2e;

const std::string usage =
    "Hibarune Ver.1.0\n"
    "USAGE:\n"
    "  hibarune filename ... [-option]\n"
    "\n"
    "  filename    スクリプトファイル名\n"
    "  -lineno     行番号を表示する。\n"
    "  -class      class属性指定で出力する。\n";

TEST(e2eDriver, UsageTouchesNoFile) {
    // Neither configuration file could be read: the usage must not try.
    Sandbox box(std::nullopt);
    fs::create_directory(box.dir / "color.txt");
    Outcome r = box.hibarune({});
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.status, 0);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(box.dir)) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"color.txt", "hibarune"}));
}

const std::vector<Line> scriptA = {{";a", {{"COMMENT", ";a"}}}};
const std::vector<Line> scriptB = {{"mov 1", {{"COMMON_COMMAND", "mov"}, {"SPACE", " "}, {"NUMBER", "1"}}}};

struct DriverCase {
    const char* name;
    bool commands;
    std::vector<std::string> args;
    std::string out;  // "{dir}" stands for the program's directory
    int status;
    std::map<std::string, std::string> pages;  // every page afterwards, with its bytes
};

TEST(e2eDriver, Runs) {
    const std::string styleA = expectedPage(Mode::style, false, scriptA);
    const DriverCase cases[] = {
        {"options only: the usage", true, {"-lineno"}, usage, 1, {}},
        {"options only, no commands.txt: the usage", false, {"-lineno"}, usage, 1, {}},
        {"-o without its folder", true, {"a.txt", "-o"}, "-o: needs a value\n", 1, {}},
        {"no commands.txt", false, {"a.txt"}, "{dir}/commands.txt: No such file or directory\n", 1, {}},
        {"middle file missing", true, {"a.txt", "missing.txt", "b.txt"},
         "missing.txt: No such file or directory\n", 1, {{"a.txt.html", styleA}}},
        {"-class -text", true, {"-class", "-text", "a.txt"}, "", 0, {{"a.txt.html", ";a\r\n"}}},
        {"-text -class", true, {"a.txt", "-text", "-class"}, "", 0, {{"a.txt.html", ";a\r\n"}}},
        {"-Class has no effect", true, {"-Class", "a.txt"}, "", 0, {{"a.txt.html", styleA}}},
        {"a lone - has no effect", true, {"-", "a.txt"}, "", 0, {{"a.txt.html", styleA}}},
        {"options apply to every file", true, {"a.txt", "-lineno", "b.txt"}, "", 0,
         {{"a.txt.html", expectedPage(Mode::style, true, scriptA)},
          {"b.txt.html", expectedPage(Mode::style, true, scriptB)}}},
        {"same file twice", true, {"a.txt", "a.txt", "-class"}, "", 0,
         {{"a.txt.html", expectedPage(Mode::classes, false, scriptA)}}},
        {"same file by two paths", true, {"a.txt", "./a.txt", "-class"}, "", 0,
         {{"a.txt.html", expectedPage(Mode::classes, false, scriptA)}}},
    };
    for (const DriverCase& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box(c.commands ? std::optional<std::string>(testCommands) : std::nullopt);
        box.write("a.txt", scriptOf(scriptA));
        box.write("b.txt", scriptOf(scriptB));
        Outcome r = box.hibarune(c.args);
        EXPECT_EQ(r.out, withDir(c.out, box.dir));
        EXPECT_EQ(r.status, c.status);
        std::set<std::string> expectedNames;
        for (const auto& [name, bytes] : c.pages) {
            expectedNames.insert(name);
            EXPECT_EQ(box.read(name), bytes) << name;
        }
        EXPECT_EQ(box.pages(), expectedNames);
    }
}

}  // namespace
