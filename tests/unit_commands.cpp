#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "nscr/token.h"
#include "unit_support.h"

namespace {

using nscr::TokenType;
using enum nscr::TokenType;
using Table = std::map<std::string, TokenType>;

const std::string badFormat = "bad format the description of reserved commands";

class Commands : public ::testing::Test {
protected:
    void SetUp() override { nscr::reservedCommands.clear(); }
    void TearDown() override { nscr::reservedCommands.clear(); }
    static Table table() { return Table(nscr::reservedCommands.begin(), nscr::reservedCommands.end()); }
};

TEST_F(Commands, LoadsLinesFieldsAndClasses) {
    const std::vector<std::pair<std::string, Table>> rows = {
        {"", {}},
        // every line end, and a last line without one
        {"goto,E\nadd,FE\r\ngosub,F\rend", {{"goto", EXECUTE_COMMAND}, {"add", COMMON_COMMAND},
                                            {"gosub", DEFINE_COMMAND}, {"end", COMMON_COMMAND}}},
        {"a,F\r\n", {{"a", DEFINE_COMMAND}}},
        {"a\r", {{"a", COMMON_COMMAND}}},
        // classes are exact bytes; nothing is trimmed
        {"a,F\nb,E\nc,FE\nd,e\ne,X\nf,\ng, E\nh,EF\ni ,E",
         {{"a", DEFINE_COMMAND}, {"b", EXECUTE_COMMAND}, {"c", COMMON_COMMAND}, {"d", COMMON_COMMAND},
          {"e", COMMON_COMMAND}, {"f", COMMON_COMMAND}, {"g", COMMON_COMMAND}, {"h", COMMON_COMMAND},
          {"i ", EXECUTE_COMMAND}}},
        {",E", {{"", EXECUTE_COMMAND}}},
        // the last line for a name wins
        {"if,E\nif,F", {{"if", DEFINE_COMMAND}}},
        {"if,F\r\nif", {{"if", COMMON_COMMAND}}},
    };
    for (const auto& [text, want] : rows) {
        nscr::reservedCommands.clear();
        EXPECT_EQ(unit::errorOf([&] { nscr::loadReservedCommandsFromText(text); }), "<no error>") << text;
        EXPECT_EQ(table(), want) << text;
    }
}

// Thousands of names, names that share their first eight bytes, and names
// given twice: every one is found with its last type, absent names are not.
TEST_F(Commands, LargeTablesFindEveryName) {
    Table want;
    std::string file;
    for (int i = 0; i < 3000; ++i) {
        std::string name = (i % 2 ? "longprefix_" : "c") + std::to_string(i);
        const char* field = i % 3 == 0 ? "F" : i % 3 == 1 ? "E" : "x";
        file += name + "," + field + "\n";
        want[name] = nscr::commandClassType(field);
        if (i % 7 == 0) {
            file += name + "\n";
            want[name] = COMMON_COMMAND;
        }
    }
    nscr::loadReservedCommandsFromText(file);
    EXPECT_EQ(table(), want);
    EXPECT_EQ(nscr::reservedCommands.size(), want.size());
    for (const auto& [name, type] : want) {
        auto found = nscr::reservedCommands.find(name);
        ASSERT_NE(found, nscr::reservedCommands.end()) << name;
        EXPECT_EQ(found->second, type) << name;
    }
    for (std::string absent : {"", "c", "c3000", "longprefix_", "longprefix_2", "C1"})
        EXPECT_EQ(nscr::reservedCommands.find(absent), nscr::reservedCommands.end()) << absent;
}

TEST_F(Commands, MalformedFilesStopAtTheBadLine) {
    // The lines before the bad one stay loaded.
    const std::vector<std::pair<std::string, Table>> rows = {
        {"a\n\nb", {{"a", COMMON_COMMAND}}}, {"a,b,c", {}}, {"a\nb,F,", {{"a", COMMON_COMMAND}}},
        {"a\n\n", {{"a", COMMON_COMMAND}}}, {"a\r\n\r\n", {{"a", COMMON_COMMAND}}},
        {"a\n\rb", {{"a", COMMON_COMMAND}}}, {"\n", {}}, {",,", {}},
    };
    for (const auto& [text, want] : rows) {
        nscr::reservedCommands.clear();
        EXPECT_EQ(unit::errorOf([&] { nscr::loadReservedCommandsFromText(text); }), badFormat) << text;
        EXPECT_EQ(table(), want) << text;
    }
}

TEST_F(Commands, LoadsFromAFile) {
    const auto path = std::filesystem::temp_directory_path() / ("unit_commands_" + std::to_string(::getpid()));
    std::ofstream(path, std::ios::binary) << "goto,E\r\nadd";
    nscr::loadReservedCommands(path.string());
    EXPECT_EQ(table(), (Table{{"goto", EXECUTE_COMMAND}, {"add", COMMON_COMMAND}}));
    std::ofstream(path, std::ios::binary) << "a\n\n";
    EXPECT_EQ(unit::errorOf([&] { nscr::loadReservedCommands(path.string()); }), badFormat);
    std::filesystem::remove(path);
    EXPECT_EQ(unit::errorOf([&] { nscr::loadReservedCommands(path.string()); }),
              path.string() + ": No such file or directory");
}

TEST_F(Commands, OnlySymbolTokensAreLookedUp) {
    nscr::loadReservedCommandsFromText("goto,E\nif,F\nadd\n_x,E");
    const std::vector<std::pair<std::string, TokenType>> rows = {
        {"goto", EXECUTE_COMMAND}, {"if", DEFINE_COMMAND}, {"add", COMMON_COMMAND}, {"_x", EXECUTE_COMMAND},
        {"Goto", SYMBOL}, {"goto1", SYMBOL}, {"*goto", LINETOP_LABEL}, {"%goto", NUMBER_VARIABLE},
        {"$goto", STRING_VARIABLE}, {"?goto", ARRAY_VARIABLE}, {"\"goto\"", LITERAL}, {";goto", COMMENT},
        {"[goto]", TAG},
    };
    for (const auto& [line, type] : rows) {
        auto tokens = nscr::parseToToken(line);
        ASSERT_EQ(tokens.size(), 1u) << line;
        EXPECT_EQ(tokens[0].type, type) << line;
    }
    auto tokens = nscr::parseToToken("if %0=0 goto *goto");
    ASSERT_EQ(tokens.size(), 9u);
    EXPECT_EQ(tokens[0].type, DEFINE_COMMAND);
    EXPECT_EQ(tokens[6].type, EXECUTE_COMMAND);
    EXPECT_EQ(tokens[8].type, GENERIC_LABEL);
}

}  // namespace
