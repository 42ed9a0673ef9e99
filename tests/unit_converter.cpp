#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "converter.h"
#include "generator.h"
#include "input/source_file.h"
#include "nscr/byte_buffer.h"
#include "nscr/file.h"
#include "nscr/huge_page_allocator.h"
#include "nscr/lines.h"
#include "nscr/parallel.h"
#include "nscr/token.h"
#include "nscr/webhighlight.h"
#include "unit_support.h"

namespace {

// The page the slow way: each line cut at its zero byte, converted whole by
// iconv, tokenized in UTF-8, formatted token by token, converted back.
std::string plainPage(std::string_view script, const Generator& generator) {
    std::string page = generator.header();
    std::int32_t number = 0;
    for (std::string_view raw : nscr::splitLines(script)) {
        std::optional<std::string> utf8 = unit::viaIconv("UTF-8", "CP932", raw.substr(0, raw.find('\0')));
        if (!utf8) return "<conversion error>";
        std::string line = generator.lineNumber(++number);
        for (const nscr::Token& token : nscr::parseToToken(*utf8)) line += generator.formatToken(token);
        page += unit::viaIconv("CP932", "UTF-8", line).value_or("<page error>") + "\r\n";
    }
    return page + generator.footer();
}

// Pieces that tokenize wherever they stand, in CP932: text with trail bytes
// below 0x80, half-width kana, and characters that do not come back from
// UTF-8 as the same bytes (NEC and IBM duplicates).
const std::vector<std::string> safePieces = {
    "a",        "mov",      "Z9",         " ",          "\t",        ";\x95\x5c<&>", "\"\x83\x5c\"", "*lab",
    "$s",       "%n",       "?a[1]",      "#00ff00 ",   "!w500 ",    "!s ",          "@",            "\\",
    "/",        "<1\x83\x5c>", "(\x8a\xbf/\x82\xa9)", "=",  ",",     ":",            "123",          "\x82\xa0",
    "\x83\x5c", "\x95\x5c", "\xb1\xb2",   "\x87\x90",   "\xee\xef",  "\xfa\x40",     "\x81\x40",     "[\x82\xa0]",
};
const std::vector<std::string> lineEnds = {"\r\n", "\n", "\r"};

std::string randomScript(unit::Random& random, std::size_t lines) {
    std::string script;
    for (std::size_t i = 0; i < lines; ++i) {
        for (std::size_t k = random.below(7); k > 0; --k) script += safePieces[random.below(safePieces.size())];
        if (random.below(15) == 0) script += std::string("\0\xff\x01(", 4);  // never read
        if (i + 1 < lines || random.below(2) == 0) script += lineEnds[random.below(lineEnds.size())];
    }
    return script;
}

class Converter : public unit::WithCommands {};

// Lines taken from their own CP932 bytes, and scripts cut into parts on
// several threads, give the page of the slow way byte for byte.
TEST_F(Converter, EveryWayGivesThePlainPage) {
    unit::Random random{11};
    for (int n = 0; n < 60; ++n) {
        std::string script = randomScript(random, 1 + random.below(40));
        for (OutputMode mode : {OutputMode::STYLE, OutputMode::CLASS, OutputMode::TEXT})
            for (bool numbers : {false, true}) {
                Generator generator(mode, numbers);
                std::string want = plainPage(script, generator);
                for (std::size_t parts : {1, 2, 3, 7}) {
                    Cp932Decoder decoder;
                    ASSERT_EQ(convertToPage(script, generator, decoder, parts).finish(), want)
                        << "script " << n << " mode " << static_cast<int>(mode) << " parts " << parts << "\n"
                        << testing::PrintToString(script);
                }
            }
    }
}

// A line of more tokens than are cut at a time is written batch by batch:
// the same page, and a tokenizer error late in the line leaves nothing.
TEST_F(Converter, LinesOfManyTokensGiveThePlainPage) {
    auto repeated = [](std::string_view piece, std::size_t times) {
        std::string text;
        for (std::size_t i = 0; i < times; ++i) text += piece;
        return text;
    };
    unit::Random random{5};
    std::string mixed;  // includes characters that take the UTF-8 road
    for (int i = 0; i < 30000; ++i) mixed += safePieces[random.below(safePieces.size())];
    const std::vector<std::string> scripts = {
        "\x82\xa0" + repeated("[", 40000) + "\r\nmov\r\n",
        repeated("*", 50000),
        "a\r\n" + repeated("\x83\x5c ", 20000) + "\r\n" + mixed + "\r\nb",
    };
    for (OutputMode mode : {OutputMode::STYLE, OutputMode::TEXT})
        for (const std::string& script : scripts) {
            Generator generator(mode, true);
            Cp932Decoder decoder;
            EXPECT_EQ(convertToPage(script, generator, decoder, 1).finish(), plainPage(script, generator));
        }

    Generator generator(OutputMode::STYLE, false);
    Cp932Decoder decoder;
    std::string late = "ok\r\n" + repeated("a ", 40000) + "!x";
    EXPECT_EQ(unit::errorOf([&] { convertToPage(late, generator, decoder, 1); }),
              "1: input 'd', 's', 'sd', 'w' follow '!'");
}

// However a script is cut, the error is the one a line-by-line run meets first.
TEST_F(Converter, PartsReportTheErrorOfTheWholeScript) {
    auto linesOf = [](std::vector<std::string> lines) {
        std::string script;
        for (const std::string& line : lines) script += line + "\r\n";
        return script;
    };
    std::vector<std::string> lines(40, "\x82\xa0\x82\xa2 mov %a,1");
    std::vector<std::pair<std::string, std::string>> rows;
    {
        auto script = lines;
        script[31] = "!x";
        script[35] = "(";
        rows.emplace_back(linesOf(script), "31: input 'd', 's', 'sd', 'w' follow '!'");
        script[38] = "\x82";  // a later line that does not convert comes first
        rows.emplace_back(linesOf(script), unit::conversionError);
        script[38] = "ok";
        script[2] = "#12";
        rows.emplace_back(linesOf(script), "2: the format of color is #[0-9a-fA-F]{6}");
    }
    Generator generator(OutputMode::STYLE, true);
    for (const auto& [script, message] : rows)
        for (std::size_t parts : {1, 2, 3, 4, 8}) {
            Cp932Decoder decoder;
            EXPECT_EQ(unit::errorOf([&] { convertToPage(script, generator, decoder, parts); }), message)
                << "parts " << parts;
        }
}

// A double-byte character cut by the end of its line, or by a zero byte,
// does not convert, whatever follows; bytes after a zero byte are never read.
TEST_F(Converter, CharactersCutByALineEndDoNotConvert) {
    Generator generator(OutputMode::STYLE, false);
    for (const std::string& end : std::vector<std::string>{"\r\n", "\n", "\r", std::string(1, '\0'), ""}) {
        std::string script = "ok\r\n\x82\xa0\x82" + end + "\x82\xa0";
        Cp932Decoder decoder;
        EXPECT_EQ(unit::errorOf([&] { convertToPage(script, generator, decoder, 1); }), unit::conversionError)
            << testing::PrintToString(end);
    }
    Cp932Decoder decoder;
    std::string afterZero = std::string("a\0\x82\r\n\x82\xa0", 7);
    EXPECT_EQ(convertToPage(afterZero, generator, decoder, 1).finish(), plainPage(afterZero, generator));
}

TEST_F(Converter, LongColoursMakeLongSpans) {
    nscr::applyColorText("STRING=" + std::string(100, 'r') + "\nSPACE=x");
    Generator generator(OutputMode::STYLE, false);
    Cp932Decoder decoder;
    std::string script = "\x82\xa0 a\r\n\x82\xa0\x82\xa0";
    EXPECT_EQ(convertScript(script, generator, decoder), plainPage(script, generator));
    EXPECT_NE(plainPage(script, generator).find(std::string(100, 'r')), std::string::npos);
}

// Work side by side: every piece runs once, and a piece that fails fails
// the whole once all are done (the first by index), rather than ending the
// program from its thread.
TEST(SideBySide, EveryPieceRunsAndTheFirstFailureIsThrown) {
    for (std::size_t count : {0, 1, 2, 5}) {
        std::vector<int> runs(count, 0);
        nscr::runSideBySide(count, [&](std::size_t k) { ++runs[k]; });
        EXPECT_EQ(runs, std::vector<int>(count, 1)) << count;
    }
    std::vector<int> runs(4, 0);
    bool outOfMemory = false;
    try {
        nscr::runSideBySide(4, [&](std::size_t k) {
            ++runs[k];
            if (k == 1) throw std::bad_alloc();
            if (k == 3) throw nscr::Error("fourth");
        });
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    EXPECT_TRUE(outOfMemory);
    EXPECT_EQ(runs, std::vector<int>(4, 1));
}

// A worker starts on another processor than its starter, where one is
// free, and is then as free to move as its starter was.
TEST(SideBySide, AWorkerStartsBesideItsStarterAndIsThenFreeToMove) {
    cpu_set_t starterSet;
    ASSERT_EQ(::sched_getaffinity(0, sizeof starterSet, &starterSet), 0);
    if (CPU_COUNT(&starterSet) < 2) GTEST_SKIP() << "one processor";
    int beside = 0;
    for (int k = 0; k < 20; ++k) {
        int starter = ::sched_getcpu(), started = -1;
        cpu_set_t workerSet;
        CPU_ZERO(&workerSet);
        nscr::Worker worker;
        ASSERT_TRUE(worker.start([&] {
            started = ::sched_getcpu();
            ::pthread_getaffinity_np(::pthread_self(), sizeof workerSet, &workerSet);
        }));
        worker.join();
        beside += started != starter ? 1 : 0;
        EXPECT_TRUE(CPU_EQUAL(&workerSet, &starterSet));
    }
    EXPECT_GE(beside, 15);
}

TEST(ByteBuffer, GrowsKeepingItsBytesAndHandsThemOn) {
    nscr::ByteBuffer buffer(10);
    std::string want;
    for (int i = 0; i < 5000; ++i) {
        std::string piece(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26));
        buffer.append(piece);
        want += piece;
    }
    EXPECT_EQ(buffer.view(), want);
    EXPECT_GE(buffer.capacity(), buffer.size());

    buffer.clear();
    buffer.append("head:");
    EXPECT_EQ(buffer.view(), "head:");

    nscr::ByteBuffer moved = std::move(buffer);
    EXPECT_EQ(moved.view().substr(0, 5), "head:");
    char* room = moved.room(3);
    room[0] = 'x';
    moved.commit(room + 1);
    EXPECT_EQ(moved.view().back(), 'x');
}

// Buffers side by side growing past several huge pages: wherever the system
// places each mapping, growing it never fails, and its bytes stay.
TEST(ByteBuffer, ManyGrowPastHugePagesKeepingTheirBytes) {
    std::vector<nscr::ByteBuffer> buffers(16);
    for (std::size_t size = 1000; size <= (12u << 20); size = size * 3 / 2)
        for (std::size_t k = 0; k < buffers.size(); ++k) {
            nscr::ByteBuffer& buffer = buffers[k];
            char* room = buffer.room(size - buffer.size());
            std::memset(room, static_cast<int>('a' + k), size - buffer.size());
            buffer.commit(room + (size - buffer.size()));
        }
    for (std::size_t k = 0; k < buffers.size(); ++k) {
        std::string_view bytes = buffers[k].view();
        EXPECT_EQ(bytes.find_first_not_of(static_cast<char>('a' + k)), std::string_view::npos) << k;
    }
}

// Room lent by a buffer is filled in place and cannot grow; letting it go
// leaves the owner's mapping and bytes as they are.
TEST(ByteBuffer, LentRoomFillsInPlaceAndCannotGrow) {
    nscr::ByteBuffer owner(4096);
    {
        nscr::ByteBuffer lent = nscr::ByteBuffer::borrow(owner.data() + 100, 8);
        lent.append("12345678");
        EXPECT_THROW(lent.append("9"), nscr::RoomExhausted);
        nscr::ByteBuffer moved = std::move(lent);
        EXPECT_EQ(moved.view(), "12345678");
    }
    EXPECT_EQ(std::string_view(owner.data() + 100, 8), "12345678");
    owner.append("still mine");
    EXPECT_EQ(owner.view(), "still mine");
}

// Arrays of strings past a megabyte live in mappings of their own: growing
// and shrinking across that size keeps every element.
TEST(HugePageAllocator, KeepsElementsAcrossTheSizeOfAMapping) {
    std::vector<std::string, nscr::HugePageAllocator<std::string>> names;
    for (int k = 0; k < 100000; ++k) names.push_back("name number " + std::to_string(k) + " and more");
    names.resize(10);
    names.shrink_to_fit();
    names.push_back("last");
    ASSERT_EQ(names.size(), 11u);
    EXPECT_EQ(names[9], "name number 9 and more");
    EXPECT_EQ(names.back(), "last");
}

// A script's bytes: copies share them and outlive the original; a prefix
// taken away (a byte order mark) leaves the rest in place.
TEST(ScriptBytes, CopiesShareTheBytesAndOutliveTheOriginal) {
    input::ScriptBytes copy;
    {
        input::ScriptBytes original(std::string("\xEF\xBB\xBF*start\n"));
        copy = original;
        original.removePrefix(3);
        EXPECT_EQ(original, "*start\n");
        EXPECT_EQ(original.data(), copy.data() + 3);
    }
    EXPECT_EQ(copy, "\xEF\xBB\xBF*start\n");
    EXPECT_EQ(copy.back(), '\n');
    EXPECT_EQ(copy.substr(3, 6), "*start");
}

TEST(ReadFile, ReadsToTheEndWhateverTheSizeSays) {
    // /proc files say they are empty.
    std::string status = nscr::readWholeFile("/proc/self/status");
    EXPECT_NE(status.find("Name:"), std::string::npos);
    EXPECT_EQ(status.back(), '\n');
    EXPECT_EQ(unit::errorOf([] { nscr::readFileBytes("/"); }), "/: not a regular file");
    EXPECT_EQ(unit::errorOf([] { nscr::readFileBytes("/no/such/file"); }), "/no/such/file: No such file or directory");
}

}  // namespace

TEST(WriteFile, WritesThePiecesInOrder) {
    const std::string path = testing::TempDir() + "hibarune_pieces.html";
    const std::string large(3u << 20, 'x');
    nscr::writeWholeFile(path, std::vector<std::string_view>{"", "head", "", large, "tail"});
    EXPECT_EQ(nscr::readWholeFile(path), "head" + large + "tail");
    nscr::writeWholeFile(path, std::vector<std::string_view>{});
    EXPECT_EQ(nscr::readWholeFile(path), "");
    ::unlink(path.c_str());
}
