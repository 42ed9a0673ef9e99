#include "script_gen.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

#include "codepage.h"
#include "converter.h"
#include "generator.h"
#include "nscr/file.h"
#include "nscr/lines.h"
#include "nscr/token.h"

namespace {

using scriptgen::Kind;

constexpr std::array allKinds = {Kind::script, Kind::longLine, Kind::emptyLines,
                                 Kind::brackets, Kind::literal, Kind::stars};

class GeneratedInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        nscr::reservedCommands.clear();
        nscr::loadReservedCommands(HIBARUNE_COMMANDS_FILE);
    }
};

TEST_F(GeneratedInput, HasExactlyTheSizeAskedForAndIsDeterministic) {
    for (Kind kind : allKinds) {
        for (std::size_t size : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 99u, 100u, 101u, 4099u, 300001u}) {
            SCOPED_TRACE(std::string(scriptgen::kindName(kind)) + " " + std::to_string(size));
            std::string first = scriptgen::generate(kind, size);
            EXPECT_EQ(first.size(), size);
            EXPECT_EQ(first, scriptgen::generate(kind, size));
        }
    }
    EXPECT_NE(scriptgen::generate(Kind::script, 100000, 1), scriptgen::generate(Kind::script, 100000, 2));
    EXPECT_NE(scriptgen::generate(Kind::longLine, 100000, 1), scriptgen::generate(Kind::longLine, 100000, 2));
}

// Every input is meant to be accepted: a rejected line would time the error
// path instead of the conversion.
TEST_F(GeneratedInput, ConvertsWithoutErrorInEveryMode) {
    for (Kind kind : allKinds) {
        for (std::size_t size : {1u, 2u, 3u, 64u, 1000u, 250000u}) {
            for (std::uint64_t seed : {1u, 7u, 12345u}) {
                std::string script = scriptgen::generate(kind, size, seed);
                for (OutputMode mode : {OutputMode::STYLE, OutputMode::CLASS, OutputMode::TEXT}) {
                    SCOPED_TRACE(std::string(scriptgen::kindName(kind)) + " size " + std::to_string(size) + " seed " +
                                 std::to_string(seed) + " mode " + std::to_string(static_cast<int>(mode)));
                    Generator generator(mode, false);
                    Cp932Decoder decoder;
                    EXPECT_NO_THROW(convertScript(script, generator, decoder));
                }
            }
        }
    }
}

TEST_F(GeneratedInput, ScriptLinesEndInCrLf) {
    std::string script = scriptgen::generate(Kind::script, 500000);
    for (std::size_t i = 0; i < script.size(); ++i) {
        if (script[i] == '\r') {
            ASSERT_TRUE(i + 1 < script.size() && script[i + 1] == '\n') << "lone CR at " << i;
        } else if (script[i] == '\n') {
            ASSERT_TRUE(i > 0 && script[i - 1] == '\r') << "lone LF at " << i;
        }
    }
    EXPECT_EQ(script.substr(script.size() - 2), "\r\n");
}

// A realistic mix: every token type shows up, blank lines and the numbered
// text controls are there, and most bytes are Japanese message text.
TEST_F(GeneratedInput, ScriptHasTheMixOfARealOne) {
    std::string script = scriptgen::generate(Kind::script, 500000);
    Cp932Decoder decoder;
    std::set<nscr::TokenType> seen;
    std::set<std::string> controls;
    std::size_t lines = 0;
    std::size_t blankLines = 0;
    std::size_t messageBytes = 0;
    nscr::forEachLine(script, [&](std::string_view raw) {
        ++lines;
        if (raw.empty()) ++blankLines;
        std::string line;
        decoder.appendUtf8(line, raw);
        nscr::TokenLine tokens = nscr::parseToToken(line);
        bool message = false;
        for (const nscr::Token& token : tokens) {
            seen.insert(token.type);
            if (token.type == nscr::TokenType::SPECIAL_CHARACTER && token.text.size() > 2)
                controls.insert(std::string(token.text));
            if (token.type == nscr::TokenType::STRING) message = true;
        }
        if (message && !tokens.empty() && tokens[0].type != nscr::TokenType::COMMENT) messageBytes += raw.size();
    });
    for (int type = 0; type < nscr::tokenTypeCount; ++type)
        EXPECT_TRUE(seen.count(static_cast<nscr::TokenType>(type)))
            << nscr::tokenTypeName(static_cast<nscr::TokenType>(type));
    for (const char* control : {"!w500", "!s0", "!d800", "!sd"}) EXPECT_TRUE(controls.count(control)) << control;
    EXPECT_GT(blankLines * 20, lines);        // over 5 % blank lines
    EXPECT_GT(messageBytes * 2, script.size());  // over half the bytes
}

TEST(ParseSize, ReadsDecimalSuffixes) {
    struct Case {
        const char* text;
        std::optional<std::size_t> size;
    };
    for (Case c : {Case{"0", 0}, Case{"123", 123}, Case{"2M", 2000000}, Case{"500K", 500000}, Case{"20m", 20000000},
                   Case{"", std::nullopt}, Case{"M", std::nullopt}, Case{"2MB", std::nullopt},
                   Case{"-1", std::nullopt}, Case{"99999999999999999999", std::nullopt},
                   Case{"18446744073709551615M", std::nullopt}}) {
        EXPECT_EQ(scriptgen::parseSize(c.text), c.size) << c.text;
    }
}

// The real program, run on a generated file, prints nothing, exits 0 and
// writes the page that the in-memory conversion gives.
TEST_F(GeneratedInput, ConvertsThroughTheProgram) {
    namespace fs = std::filesystem;
    fs::path directory = fs::temp_directory_path() / ("hibarune_gen_" + std::to_string(::getpid()));
    fs::create_directories(directory);
    fs::path script = directory / "generated.txt";
    std::string bytes = scriptgen::generate(Kind::script, 1000000);
    nscr::writeWholeFile(script.string(), bytes);

    std::string command = "cd '" + directory.string() + "' && '" HIBARUNE_BINARY "' generated.txt 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
    int status = ::pclose(pipe);
    EXPECT_EQ(output, "");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    Generator generator(OutputMode::STYLE, false);
    Cp932Decoder decoder;
    EXPECT_EQ(nscr::readWholeFile(script.string() + ".html"), convertScript(bytes, generator, decoder));
    fs::remove_all(directory);
}

}  // namespace
