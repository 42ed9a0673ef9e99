// Reading a game folder as each engine does: which files, in which order,
// decoded how and in which encoding, and what is said about the rest.

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "analysis/model.h"
#include "input/encoding_check.h"
#include "input/engine_profile.h"
#include "input/game_loader.h"
#include "unit_support.h"

namespace {

namespace fs = std::filesystem;
using input::Encoding;
using input::Engine;

class Scratch {
public:
    explicit Scratch(const std::string& inner = "") {
        std::string pattern = (fs::temp_directory_path() / "hibarune-game-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root = pattern;
        dir = inner.empty() ? root : root + "/" + inner;
        fs::create_directories(dir);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::string at(const std::string& name) const { return dir + "/" + name; }
    void put(const std::string& name, const std::string& bytes) const {
        std::ofstream(at(name), std::ios::binary) << bytes;
    }
    std::string root, dir;
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> namesOf(const input::GameLoad& game) {
    std::vector<std::string> names;
    for (const auto& file : game.files) names.push_back(file.name);
    return names;
}

std::map<std::string, std::string> notReadOf(const input::GameLoad& game) {
    std::map<std::string, std::string> reasons;
    for (const auto& file : game.notRead) reasons[file.name] = file.reason;
    return reasons;
}

std::string allDiagnostics(const input::GameLoad& game) {
    std::string text;
    for (const auto& d : game.diagnostics) text += input::formatDiagnostic(d) + "\n";
    return text;
}

std::string xorWith(std::string bytes, std::string_view key) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ key[i % key.size()]);
    return bytes;
}

TEST(EngineProfile, NamesAndRules) {
    using input::DuplicateRule;
    struct Case {
        const char* name;
        Engine engine;
        Encoding text;
        bool stripsBom, stopsAtGap, readsUtf;
        DuplicateRule labels, aliases;
    };
    const Case cases[] = {
        {"nscripter", Engine::NScripter, Encoding::CP932, false, false, false, DuplicateRule::First, DuplicateRule::First},
        {"onscripter", Engine::ONScripter, Encoding::CP932, false, false, false, DuplicateRule::Last, DuplicateRule::First},
        {"onscripter-en", Engine::ONScripterEN, Encoding::CP932, false, false, true, DuplicateRule::First, DuplicateRule::First},
        {"ponscripter", Engine::Ponscripter, Encoding::CP932, true, false, true, DuplicateRule::Last, DuplicateRule::Last},
        {"onscripter-ru", Engine::ONScripterRU, Encoding::CP932, false, true, false, DuplicateRule::Refuse, DuplicateRule::First},
        {"onscripter-jh", Engine::ONScripterJH, Encoding::GBK, false, false, false, DuplicateRule::Last, DuplicateRule::First},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(input::engineNamed(c.name), c.engine);
        EXPECT_EQ(input::engineName(c.engine), c.name);
        const input::EngineProfile& p = input::profileOf(c.engine);
        EXPECT_EQ(p.textEncoding, c.text);
        EXPECT_EQ(p.stripsBom, c.stripsBom);
        EXPECT_EQ(p.stopsAtGap, c.stopsAtGap);
        EXPECT_EQ(p.readsUtf, c.readsUtf);
        EXPECT_EQ(p.labels, c.labels);
        EXPECT_EQ(p.aliases, c.aliases);
    }
    for (const char* unknown : {"", "ONScripter", "onscripter-", "kirikiri"}) EXPECT_FALSE(input::engineNamed(unknown));
    EXPECT_EQ(input::defaultEngine, Engine::ONScripterEN);
}

TEST(GameLoader, FileOrderAndFilesLeftAside) {
    struct Case {
        const char* what;
        Engine engine;
        std::vector<std::string> present;
        std::vector<std::string> read;
        std::map<std::string, std::string> notRead;  // name -> part of the reason
    };
    const Case cases[] = {
        {"gaps are skipped", Engine::ONScripterEN, {"3.txt", "0.txt", "1.txt", "readme.txt"}, {"0.txt", "1.txt", "3.txt"}, {}},
        {"N.txt shadows 0N.txt", Engine::ONScripter, {"0.txt", "00.txt", "01.txt", "1.txt", "02.txt", "10.txt"},
         {"0.txt", "1.txt", "02.txt", "10.txt"}, {{"00.txt", "shadowed by 0.txt"}, {"01.txt", "shadowed by 1.txt"}}},
        {"two-digit game", Engine::NScripter, {"00.txt", "01.txt", "05.txt", "99.txt", "100.txt", "007.txt"},
         {"00.txt", "01.txt", "05.txt", "99.txt"},
         {{"100.txt", "0 to 99 only"}, {"007.txt", "not a name the engine tries"}}},
        {"stops at a gap", Engine::ONScripterRU, {"0.txt", "1.txt", "3.txt", "4.txt", "01.txt"}, {"0.txt", "1.txt"},
         {{"3.txt", "after the gap at 2.txt"}, {"4.txt", "after the gap at 2.txt"}, {"01.txt", "two-digit"}}},
        {"stops at an empty file", Engine::ONScripterRU, {"0.txt", "1.txt=", "2.txt"}, {"0.txt"},
         {{"1.txt", "empty"}, {"2.txt", "after the empty file 1.txt"}}},
        {"empty file read elsewhere", Engine::ONScripterEN, {"0.txt", "1.txt=", "2.txt"}, {"0.txt", "1.txt", "2.txt"}, {}},
        {".utf game", Engine::ONScripterEN, {"0.utf", "1.utf", "01.utf", "2.txt", "3.utf.txt"}, {"0.utf", "1.utf"},
         {{"01.utf", "shadowed by 1.utf"}, {"2.txt", "beside a .utf game"}, {"3.utf.txt", "read from 0.utf"}}},
        {".utf.txt game", Engine::ONScripterEN, {"0.utf.txt", "1.utf.txt"}, {"0.utf.txt", "1.utf.txt"}, {}},
        {".txt before .utf", Engine::ONScripterEN, {"0.txt", "0.utf"}, {"0.txt"}, {{"0.utf", "read from 0.txt"}}},
        {"0.utf before 00.txt", Engine::Ponscripter, {"00.txt", "0.utf"}, {"0.utf"}, {{"00.txt", "read from 0.utf"}}},
        {"no .utf lookup", Engine::ONScripter, {"0.utf", "nscript.dat"}, {"nscript.dat"},
         {{"0.utf", "does not read .utf files"}}},
        {"text before .dat", Engine::ONScripterEN, {"0.txt", "nscript.dat", "pscript.dat"}, {"0.txt"},
         {{"nscript.dat", "read from 0.txt"}, {"pscript.dat", "read from 0.txt"}}},
        {"nscr_sec.dat before nscript.dat", Engine::ONScripter, {"nscript.dat", "nscr_sec.dat"}, {"nscr_sec.dat"},
         {{"nscript.dat", "read from nscr_sec.dat"}}},
        {"nscript.___ is found, not read", Engine::ONScripter, {"nscript.___", "nscript.dat"}, {},
         {{"nscript.___", "table kept in the game's executable"}, {"nscript.dat", "read from nscript.___"}}},
        {"no pscript.dat for NScripter", Engine::NScripter, {"00.txt", "pscript.dat"}, {"00.txt"},
         {{"pscript.dat", "does not read pscript.dat"}}},
        {"packed release file", Engine::ONScripterRU, {"script.file"}, {}, {{"script.file", "packed"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch game;
        for (const std::string& entry : c.present) {
            std::size_t eq = entry.find('=');
            game.put(entry.substr(0, eq), eq == std::string::npos ? "; " + entry + "\n" : entry.substr(eq + 1));
        }
        input::GameLoad load = input::loadGame(game.dir, c.engine);
        EXPECT_EQ(namesOf(load), c.read) << allDiagnostics(load);
        std::map<std::string, std::string> reasons = notReadOf(load);
        EXPECT_EQ(reasons.size(), c.notRead.size()) << allDiagnostics(load);
        for (const auto& [name, reason] : c.notRead)
            EXPECT_NE(reasons[name].find(reason), std::string::npos) << name << ": " << reasons[name];
        for (const auto& file : load.files) EXPECT_EQ(file.path, game.at(file.name));
    }
}

TEST(GameLoader, EncodedScriptsAreDecoded) {
    const std::string corpus = "/work/shared/corpus/minesweeper-brain__00.txt";
    if (!fs::exists(corpus)) GTEST_SKIP() << "no corpus";
    const std::string original = readAll(corpus);
    const std::string utf8 = "*define\n\xE3\x81\x82\n";
    struct Case {
        const char* name;
        std::string stored;
        std::string decoded;
        Encoding encoding;
    };
    const Case cases[] = {
        {"nscript.dat", xorWith(original, "\x84"), original, Encoding::CP932},
        {"nscr_sec.dat", xorWith(original, "\x79\x57\x0D\x80\x04"), original, Encoding::CP932},
        {"pscript.dat", xorWith(utf8, "\x84"), utf8, Encoding::UTF8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch game;
        game.put(c.name, c.stored);
        input::GameLoad load = input::loadGame(game.dir, Engine::ONScripter);
        ASSERT_EQ(load.files.size(), 1u) << allDiagnostics(load);
        EXPECT_EQ(load.files[0].bytes, c.decoded);
        EXPECT_EQ(load.files[0].encoding, c.encoding);
        EXPECT_FALSE(load.hasErrors()) << allDiagnostics(load);
    }
}

TEST(GameLoader, EncodingOfEachFile) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string cp932 = "*define\n\x82\xA0\x83\x5C\n";  // a trail byte of 5C
    const std::string utf8 = "*define\n\xE3\x81\x82\n";
    const std::string gbk = "*define\n\xC4\xE3\xBA\xC3\n";
    struct Case {
        const char* what;
        Engine engine;
        std::optional<Encoding> forced;
        std::string name, bytes;
        std::string heldBytes;  // what the file holds once read
        Encoding encoding;
        std::string diagnostic;  // part of the one expected, "" for none
    };
    const Case cases[] = {
        {"CP932 .txt", Engine::ONScripterEN, {}, "0.txt", cp932, cp932, Encoding::CP932, ""},
        {"GBK default", Engine::ONScripterJH, {}, "0.txt", gbk, gbk, Encoding::GBK, ""},
        {".utf", Engine::ONScripterEN, {}, "0.utf", utf8, utf8, Encoding::UTF8, ""},
        {"UTF-8 .txt without a BOM", Engine::ONScripterEN, {}, "0.txt", utf8, utf8, Encoding::UTF8,
         "warning: valid UTF-8 without a BOM: read as UTF-8, though onscripter-en reads this file as CP932"},
        {"BOM stripped", Engine::Ponscripter, {}, "0.txt", bom + utf8, utf8, Encoding::UTF8, ""},
        {"BOM kept", Engine::ONScripterEN, {}, "0.txt", bom + utf8, bom + utf8, Encoding::UTF8,
         "0.txt:1:1: warning: starts with a UTF-8 BOM, which onscripter-en keeps"},
        {"BOM kept in .utf", Engine::ONScripter, {}, "0.txt", bom + cp932, bom + cp932, Encoding::UTF8,
         "0.txt:2:1: error: not valid UTF-8 (byte 82); the file looks like CP932"},
        {"forced UTF-8 on CP932", Engine::ONScripterEN, Encoding::UTF8, "0.txt", cp932, cp932, Encoding::UTF8,
         "0.txt:2:1: error: not valid UTF-8 (byte 82); the file looks like CP932"},
        {"forced CP932 on .utf", Engine::ONScripterEN, Encoding::CP932, "0.utf", utf8, utf8, Encoding::CP932,
         "0.utf:2:3: error: not valid CP932 (bytes 82 0A); the file looks like UTF-8"},
        {"forced GBK", Engine::ONScripter, Encoding::GBK, "0.txt", gbk, gbk, Encoding::GBK, ""},
        {"CP932 kana in a GBK game", Engine::ONScripterJH, {}, "0.txt", "a\r\nb\xB1\n", "a\r\nb\xB1\n",
         Encoding::GBK, "0.txt:2:2: error: not valid GBK (bytes B1 0A); the file looks like CP932"},
        {"binary junk", Engine::ONScripterEN, {}, "0.txt", std::string("\x89PNG\r\n\x1A\n\0\xFF\xFF", 11),
         std::string("\x89PNG\r\n\x1A\n\0\xFF\xFF", 11), Encoding::CP932,
         "0.txt:3:2: error: not valid CP932 (byte FF); the file is not text in CP932, UTF-8 or GBK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch game;
        game.put(c.name, c.bytes);
        input::GameLoad load = input::loadGame(game.dir, c.engine, c.forced);
        ASSERT_EQ(load.files.size(), 1u) << allDiagnostics(load);
        EXPECT_EQ(load.files[0].bytes, c.heldBytes);
        EXPECT_EQ(load.files[0].encoding, c.encoding);
        std::string said = allDiagnostics(load);
        if (c.diagnostic.empty())
            EXPECT_EQ(said, "");
        else
            EXPECT_NE(said.find(c.diagnostic), std::string::npos) << said;
    }
}

TEST(GameLoader, MixedEncodingsInOneGame) {
    Scratch game;
    game.put("0.txt", "*define\n\x82\xA0\n");
    game.put("1.txt", "\xEF\xBB\xBF*a\n\xE3\x81\x82\n");
    game.put("2.txt", "*b\n\xE3\x81\x82\n");
    input::GameLoad load = input::loadGame(game.dir, Engine::Ponscripter);
    ASSERT_EQ(load.files.size(), 3u);
    EXPECT_EQ(load.files[0].encoding, Encoding::CP932);
    EXPECT_EQ(load.files[1].encoding, Encoding::UTF8);
    EXPECT_EQ(load.files[1].bytes, "*a\n\xE3\x81\x82\n");
    EXPECT_EQ(load.files[2].encoding, Encoding::UTF8);
    EXPECT_FALSE(load.hasErrors()) << allDiagnostics(load);
}

// The first line of each file in the engine's joined text, as the model of
// the files numbers them.
std::vector<std::size_t> firstGlobalLines(std::vector<input::SourceFile> files) {
    analysis::Model model = analysis::analyze(std::move(files), analysis::CommandSet());
    std::vector<std::size_t> firsts;
    for (const analysis::FileInfo& info : model.fileInfo) firsts.push_back(info.firstEngineLine);
    return firsts;
}

TEST(GameLoader, GlobalLinesCountTheNewlineAddedAfterEachFile) {
    struct Case {
        std::vector<std::string> files;
        std::vector<std::size_t> firsts;
    };
    const Case cases[] = {
        {{"a\nb", "c"}, {1, 3}},
        {{"a\nb\n", "c"}, {1, 4}},       // a final line end still gets the empty line
        {{"a\r\nb\r\n", "c"}, {1, 4}},   // CR LF is one line end
        {{"a\rb\r", "c\r\r\n", "d"}, {1, 4, 7}},  // so is a lone CR, also last in a file
        {{"", "", "x"}, {1, 2, 3}},
        {{"\r", "\n"}, {1, 3}},
    };
    for (const Case& c : cases) {
        std::vector<input::SourceFile> files;
        for (const std::string& bytes : c.files) files.push_back({"p", "n", bytes, Encoding::CP932});
        EXPECT_EQ(firstGlobalLines(files), c.firsts) << ::testing::PrintToString(c.files);
    }
    // The same through a loaded game with both kinds of line end.
    Scratch game;
    game.put("0.txt", "*define\r\ngame\r\n");
    game.put("1.txt", "*start\rend");
    game.put("2.txt", "*x\n");
    EXPECT_EQ(firstGlobalLines(input::loadGame(game.dir, Engine::ONScripter).files),
              (std::vector<std::size_t>{1, 4, 6}));
}

TEST(EncodingCheck, FirstBadBytesAndGuess) {
    struct Case {
        std::string bytes;
        Encoding encoding;
        std::optional<std::array<std::size_t, 3>> bad;  // line, column, length
    };
    using Bad = std::array<std::size_t, 3>;
    const Case cases[] = {
        {"plain ASCII\r\nline", Encoding::CP932, {}},
        {"\x81\x40\x8E\x7E\x83\x5C\xB1\xFC\xFC", Encoding::CP932, {}},  // trail bytes 40, 7E, 5C; kana; last pair
        {"ab\n\x81\x7F", Encoding::CP932, Bad{2, 1, 2}},                // 7F is no trail byte
        {"ab\r\x80", Encoding::CP932, Bad{2, 1, 1}},
        {"ab\r\ncd\xA0", Encoding::CP932, Bad{2, 3, 1}},
        {"x\x82", Encoding::CP932, Bad{1, 2, 1}},                       // cut short
        {"\x82\nx", Encoding::CP932, Bad{1, 1, 2}},                     // a line end is no trail byte
        {"\xFE\xFE\x81\x40", Encoding::GBK, {}},
        {"\xA1\x41\x80", Encoding::GBK, Bad{1, 3, 1}},
        {"\xFF", Encoding::GBK, Bad{1, 1, 1}},
        {"\xC2\x80\xED\x9F\xBF\xF4\x8F\xBF\xBF", Encoding::UTF8, {}},
        {"\xC0\x80", Encoding::UTF8, Bad{1, 1, 1}},                     // overlong
        {"\xE0\x9F\x80", Encoding::UTF8, Bad{1, 1, 2}},                 // overlong
        {"ok\n\xED\xA0\x80", Encoding::UTF8, Bad{2, 1, 2}},             // surrogate
        {"\xF4\x90\x80\x80", Encoding::UTF8, Bad{1, 1, 2}},             // past U+10FFFF
        {"\xE3\x81", Encoding::UTF8, Bad{1, 1, 2}},                     // cut short
        {"12345678\xE3\x81\x41", Encoding::UTF8, Bad{1, 9, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        std::optional<input::BadBytes> bad = input::validate(c.bytes, c.encoding);
        ASSERT_EQ(bad.has_value(), c.bad.has_value());
        if (bad) {
            EXPECT_EQ((Bad{bad->line, bad->column, bad->length}), *c.bad);
        }
    }
    const std::pair<std::string, std::optional<Encoding>> guesses[] = {
        {"ascii only", Encoding::CP932},
        {"\xE3\x81\x82\xE3\x81\x84", Encoding::UTF8},
        {"\x82\xA0\x82\xA2", Encoding::CP932},
        {"\xC4\xE3\xBA\xC3\xA3\xA1", Encoding::CP932},  // GBK text, but valid CP932 too
        {"\xFD\x41\xFE\xFE", Encoding::GBK},          // lead bytes CP932 lacks
        {"\xFF\xFF", std::nullopt},
    };
    for (const auto& [bytes, guess] : guesses) EXPECT_EQ(input::guessEncoding(bytes), guess) << bytes;
}

// Text is checked 64 bytes at a time: random mixtures of several blocks,
// with a bad byte now and then, against a byte-by-byte reading, in both
// double-byte encodings.
TEST(EncodingCheck, LongRunsAgreeWithByteByByte) {
    struct Ranges {
        Encoding encoding;
        unsigned char lead1Low, lead1High, lead2Low, lead2High, trailHigh, singleLow, singleHigh;
        std::vector<std::string> pieces, bad;
    };
    const Ranges encodings[] = {
        {Encoding::CP932, 0x81, 0x9F, 0xE0, 0xFC, 0xFC, 0xA1, 0xDF,
         {"\x82\xA0", "\x88\x9F", "\xE0\x40", "\xFC\xFC", "\x81\x7E", "a", "\xB1"},
         {"\x80", "\x82\x7F", "\xFD", "\x82\n", "\xA0"}},
        {Encoding::GBK, 0x81, 0xFE, 0x81, 0xFE, 0xFE, 0xFF, 0x00,
         {"\xC4\xE3", "\x81\x81", "\xFE\x40", "\xB0\xFE", "\x81\x7E", "a", "\x81\x80"},
         {"\x80", "\xC4\x7F", "\xFF", "\xC4\n", "\xB0\x20"}},
    };
    for (const Ranges& r : encodings) {
        auto in = [](unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; };
        auto firstBad = [&](const std::string& bytes) -> std::optional<std::size_t> {
            for (std::size_t i = 0; i < bytes.size();) {
                auto c = static_cast<unsigned char>(bytes[i]);
                if (c < 0x80 || in(c, r.singleLow, r.singleHigh)) { ++i; continue; }
                bool lead = in(c, r.lead1Low, r.lead1High) || in(c, r.lead2Low, r.lead2High);
                if (!lead || i + 1 == bytes.size()) return i;
                auto t = static_cast<unsigned char>(bytes[i + 1]);
                if (!in(t, 0x40, 0x7E) && !in(t, 0x80, r.trailHigh)) return i;
                i += 2;
            }
            return std::nullopt;
        };
        std::mt19937 random(7);
        for (int round = 0; round < 2000; ++round) {
            std::string bytes;
            std::size_t size = 40 + random() % 200;
            while (bytes.size() < size) bytes += r.pieces[random() % 7 < 5 ? random() % 4 : 4 + random() % 3];
            if (round % 2 == 0) bytes.insert(random() % bytes.size() & ~std::size_t{1}, r.bad[random() % 5]);
            std::optional<input::BadBytes> found = input::validate(bytes, r.encoding);
            std::optional<std::size_t> expected = firstBad(bytes);
            ASSERT_EQ(found.has_value(), expected.has_value()) << ::testing::PrintToString(bytes);
            if (found) {
                ASSERT_EQ(found->offset, *expected) << ::testing::PrintToString(bytes);
            }
        }
    }
}

TEST(EncodingCheck, GbkToUtf8) {
    const std::string texts[] = {"", "ascii\r\n", "\xC4\xE3\xBA\xC3\xA3\xA1 ok \xD6\xD0\xCE\xC4",
                                 std::string(100, 'x') + "\xB0\xA1"};
    for (const std::string& text : texts) EXPECT_EQ(input::gbkToUtf8(text), unit::viaIconv("UTF-8", "GBK", text));
    // Bytes that are not GBK each leave one replacement character.
    EXPECT_EQ(input::gbkToUtf8("a\xFF" "b\xC4"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(input::gbkToUtf8("\x81\x0A\xC4\xE3"), "\xEF\xBF\xBD\n\xE4\xBD\xA0");
}

TEST(GameLoader, BadInputIsReportedNotThrown) {
    struct Case {
        const char* what;
        std::function<void(Scratch&)> make;
        std::string said;  // part of an error
        std::vector<std::string> read;
        std::string inner = "";  // the game folder's own name inside the scratch folder
    };
    const Case cases[] = {
        {"missing folder", [](Scratch& s) { fs::remove(s.dir); }, ": error: No such file or directory", {}},
        {"a file, not a folder", [](Scratch& s) { fs::remove(s.dir); std::ofstream(s.dir) << "x"; },
         ": error: Not a directory", {}},
        {"empty folder", [](Scratch&) {}, ": error: the folder is empty", {}},
        {"no script", [](Scratch& s) { s.put("readme.txt", "x"); s.put("01.txt", "x"); },
         ": error: no script: none of 0.txt, 00.txt, nscr_sec.dat, nscript.___, nscript.dat, pscript.dat", {}},
        {"0-byte nscript.dat", [](Scratch& s) { s.put("nscript.dat", ""); },
         ": error: the game's script is empty", {"nscript.dat"}},
        {"nscript.___", [](Scratch& s) { s.put("nscript.___", "\x01\x02"); },
         "nscript.___: error: it is decoded with a table kept in the game's executable", {}},
        {"symlink loop", [](Scratch& s) { fs::create_symlink("0.txt", s.at("0.txt")); s.put("00.txt", "x"); },
         "0.txt: error: Too many levels of symbolic links", {"00.txt"}},
        {"a folder named 0.txt", [](Scratch& s) { fs::create_directory(s.at("0.txt")); s.put("00.txt", "x"); },
         "0.txt: error: not a regular file", {"00.txt"}},
        {"binary junk", [](Scratch& s) { s.put("0.txt", std::string("\0\x01\xFF\xFE", 4)); },
         "0.txt:1:3: error: not valid CP932 (byte FF); the file is not text in CP932, UTF-8 or GBK", {"0.txt"}},
        {"odd bytes in names", [](Scratch& s) {
             s.put("0.txt", "x");
             s.put(std::string("1.txt\xFF\n&#%?\" '"), "x");
             s.put("2.txt", "\xFF");
         }, "2.txt:1:1: error: not valid CP932", {"0.txt", "2.txt"}, std::string("g \xFF\n&#%?\"'<")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch game(c.inner);
        c.make(game);
        input::GameLoad load = input::loadGame(game.dir, Engine::ONScripter);
        EXPECT_EQ(namesOf(load), c.read);
        EXPECT_TRUE(load.hasErrors());
        std::string said = allDiagnostics(load);
        EXPECT_NE(said.find(game.dir + (c.said[0] == ':' ? "" : "/") + c.said), std::string::npos) << said;
    }
}

// The game's files are read into room of the sizes they had when listed: a
// file with more to read than its size says (/proc) is read whole anyway.
TEST(GameLoader, AFileLongerThanItsSizeIsReadWhole) {
    Scratch game;
    game.put("1.txt", "*b\n");
    fs::create_symlink("/proc/self/status", game.at("0.txt"));
    input::GameLoad load = input::loadGame(game.dir, Engine::ONScripter);
    ASSERT_EQ(namesOf(load), (std::vector<std::string>{"0.txt", "1.txt"}));
    EXPECT_NE(load.files[0].bytes.view().find("Name:"), std::string_view::npos);
    EXPECT_EQ(load.files[1].bytes, "*b\n");
}

TEST(GameLoader, UnreadableFileIsReportedAndPassedOver) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    Scratch game;
    game.put("0.txt", "x");
    game.put("00.txt", "y");
    ::chmod(game.at("0.txt").c_str(), 0);
    input::GameLoad load = input::loadGame(game.dir, Engine::ONScripter);
    EXPECT_EQ(namesOf(load), std::vector<std::string>{"00.txt"});
    EXPECT_NE(allDiagnostics(load).find(game.at("0.txt") + ": error: Permission denied"), std::string::npos);
    EXPECT_EQ(notReadOf(load)["0.txt"], "Permission denied");
}

}  // namespace
