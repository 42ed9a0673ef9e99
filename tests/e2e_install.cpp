// An installed tree in a temporary prefix: where the program finds its
// command table.

#include "e2e_support.h"

namespace {

using namespace e2e;

std::vector<Line> commandWords(const char* game, const char* bg, const char* mov) {
    return {{"game", {{game, "game"}}}, {"bg", {{bg, "bg"}}}, {"mov", {{mov, "mov"}}}};
}

// Runs program with -class on a script of the three command words, in a
// working directory of its own.
Outcome runCopy(const fs::path& program, const fs::path& work) {
    fs::create_directories(work);
    writeFile(work / "s.txt", "game\r\nbg\r\nmov\r\n");
    return run(program, {"-class", "s.txt"}, work);
}

TEST(e2eInstall, FindsItsCommandTable) {
    TempDir prefix;
    const fs::path& p = prefix.dir;
    Outcome install = run(HIBARUNE_CMAKE_COMMAND, {"--install", HIBARUNE_BUILD_DIR, "--prefix", p.string()}, p);
    ASSERT_EQ(install.status, 0) << install.out;
    ASSERT_TRUE(fs::is_regular_file(p / "bin/hibarune"));
    EXPECT_FALSE(fs::exists(p / "bin/commands.txt"));
    EXPECT_EQ(readFile(p / "share/hibarune/commands.txt"),
              readFile(fs::path(HIBARUNE_SOURCE_DIR) / "data/commands.txt"));

    // The installed program uses share/hibarune/commands.txt.
    Outcome r = runCopy(p / "bin/hibarune", p / "work");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(p / "work/s.txt.html"),
              expectedPage(Mode::classes, false, commandWords("DEFINE_COMMAND", "EXECUTE_COMMAND", "COMMON_COMMAND")));

    // Started through a link from elsewhere, it still looks beside the real file.
    fs::create_directories(p / "links/deeper");
    fs::create_symlink(p / "bin/hibarune", p / "links/deeper/hibarune");
    r = runCopy(p / "links/deeper/hibarune", p / "work-link");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFile(p / "work-link/s.txt.html"),
              expectedPage(Mode::classes, false, commandWords("DEFINE_COMMAND", "EXECUTE_COMMAND", "COMMON_COMMAND")));

    // A table beside the program comes first, even with share/ next door.
    fs::create_directories(p / "other");
    fs::copy_file(p / "bin/hibarune", p / "other/hibarune");
    writeFile(p / "other/commands.txt", "game,E\r\nbg,F\r\n");
    r = runCopy(p / "other/hibarune", p / "work-other");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFile(p / "work-other/s.txt.html"),
              expectedPage(Mode::classes, false, commandWords("EXECUTE_COMMAND", "DEFINE_COMMAND", "SYMBOL")));

    // Neither place: the message names the path beside the program.
    fs::create_directories(p / "lone/deeper");
    fs::copy_file(p / "bin/hibarune", p / "lone/deeper/hibarune");
    r = runCopy(p / "lone/deeper/hibarune", p / "work-lone");
    EXPECT_EQ(r.out, (p / "lone/deeper/commands.txt").string() + ": No such file or directory\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(p / "work-lone/s.txt.html"));
}

}  // namespace
