#include <optional>
#include <string>
#include <vector>

#include "codepage.h"
#include "html5.h"
#include "converter.h"
#include "generator.h"
#include "nscr/byte_lanes.h"
#include "nscr/lines.h"
#include "unit_support.h"

namespace {

std::optional<std::string> decoded(Cp932Decoder& decoder, std::string_view cp932) {
    std::string out;
    if (unit::errorOf([&] { decoder.appendUtf8(out, cp932); }) != "<no error>") return std::nullopt;
    return out;
}

std::optional<std::string> encoded(Cp932Encoder& encoder, std::string_view utf8) {
    std::string out;
    if (unit::errorOf([&] { out = encoder.toCp932(utf8); }) != "<no error>") return std::nullopt;
    return out;
}

std::string utf8Of(std::uint32_t c) {
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    if (c < 0x800) return {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    return {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
            static_cast<char>(0x80 | (c & 0x3F))};
}

TEST(Lines, CutAtCrLfAndCrLf) {
    using V = std::vector<std::string_view>;
    const std::vector<std::pair<std::string_view, V>> rows = {
        {"", {}}, {"a", {"a"}}, {"a\n", {"a"}}, {"a\r", {"a"}}, {"a\r\n", {"a"}},
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}}, {"a\n\rb", {"a", "", "b"}}, {"\n\n", {"", ""}},
        {"\r\r\n", {"", ""}}, {"\r\n\r\n", {"", ""}}, {"a\r\r", {"a", ""}},
    };
    for (const auto& [text, want] : rows) {
        EXPECT_EQ(nscr::splitLines(text), want) << testing::PrintToString(text);
        EXPECT_EQ(nscr::countLines(text), want.size()) << testing::PrintToString(text);
    }
}

// Counting lines goes sixteen bytes at a time: line ends on either side of
// every block border, and counters that would overflow a byte.
TEST(Lines, CountedAsCut) {
    std::string text;
    for (std::size_t size = 0; size < 80; ++size) {
        for (std::string_view end : {"\r", "\n", "\r\n", "\r\r", "\n\r"}) {
            text.assign(size, 'x');
            for (std::size_t at = 0; at + end.size() <= size; at += 7) text.replace(at, end.size(), end);
            EXPECT_EQ(nscr::countLines(text), nscr::splitLines(text).size()) << testing::PrintToString(text);
        }
    }
    for (std::string_view end : {"\n", "\r", "\r\n"}) {
        text.clear();
        for (int k = 0; k < 40000; ++k) text += end;
        EXPECT_EQ(nscr::countLines(text), 40000u);
        EXPECT_EQ(nscr::countLines(text + "tail"), 40001u);
    }
}

// Whole scripts through the converter in TEXT mode: lines come back in CP932, each ended by CR LF.
TEST(Lines, ScriptsRoundTripInTextMode) {
    Generator generator(OutputMode::TEXT, false);
    Cp932Decoder decoder;
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", ""},
        {"abc 123 ;x\"<>&\"\ny\r", "abc 123 ;x\"<>&\"\r\ny\r\n"},
        {"\x82\xa0\x82\xa2\r\n\x8a\xbf\x8e\x9a\xb1", "\x82\xa0\x82\xa2\r\n\x8a\xbf\x8e\x9a\xb1\r\n"},
        // a zero byte ends its line; what follows it is never converted
        {std::string("a\0b\nc", 5), "a\r\nc\r\n"}, {std::string("\0", 1), "\r\n"},
        {std::string("\x82\xa0\0\xff", 4), "\x82\xa0\r\n"},
    };
    for (const auto& [script, page] : rows)
        EXPECT_EQ(convertScript(script, generator, decoder), page) << testing::PrintToString(script);

    const std::vector<std::string> bad = {
        "\x80", "a\xa0", "\xfd", "\xfe", "\xff", "\x82", "a\x82\nb", "\x82\x20", "\x81\x7f",
        std::string("\x82\0\xa0", 3),
    };
    for (const std::string& script : bad)
        EXPECT_EQ(unit::errorOf([&] { convertScript(script, generator, decoder); }), unit::conversionError)
            << testing::PrintToString(script);
}

// A lane is in a range when its byte is, for every range and every byte.
TEST(ByteLanes, EveryRangeHoldsItsBytes) {
    char bytes[256];
    for (int k = 0; k < 256; ++k) bytes[k] = static_cast<char>(k);
    for (int low = 0; low < 256; ++low)
        for (int high = 0; high < 256; ++high)
            for (int block = 0; block < 256; block += 16) {
                nscr::ByteLanes in = nscr::lanesInRange(nscr::loadLanes(bytes + block), static_cast<unsigned char>(low),
                                                        static_cast<unsigned char>(high));
                for (int k = 0; k < 16; ++k) {
                    unsigned want = low <= block + k && block + k <= high ? 0xFF : 0;
                    ASSERT_EQ(in[k], want) << low << " " << high << " " << block + k;
                }
            }
}

// Every one- and two-byte sequence decodes to iconv's bytes, the second time from the cache too.
TEST(Codepage, DecoderGivesIconvBytes) {
    Cp932Decoder decoder;
    for (int pass = 0; pass < 2; ++pass) {
        for (int a = 0; a < 256; ++a) {
            std::string one(1, static_cast<char>(a));
            ASSERT_EQ(decoded(decoder, one), unit::viaIconv("UTF-8", "CP932", one)) << a;
            for (int b = 0; b < 256; ++b) {
                std::string two = one + static_cast<char>(b);
                ASSERT_EQ(decoded(decoder, two), unit::viaIconv("UTF-8", "CP932", two)) << a << " " << b;
            }
        }
    }
    EXPECT_EQ(decoded(decoder, "a\x82\xa0z"), "aあz");
}

// Runs of characters take the fast roads (two known pairs at a time, one,
// a run of ASCII) and the slow one for what is not learned yet: random
// mixtures decode as iconv decodes them, whole, as a line and escaped.
TEST(Codepage, MixedRunsGiveIconvBytes) {
    const std::vector<std::string> pieces = {"a", "abc ", "0123456789abcdef", "\x82\xa0", "\x8a\xbf\x8e\x9a", std::string(1, '\0'),
                                             "\xb1", "\x81\x40", "\xea\xa4", "\x87\x40", "\xfa\x40", "\x82",
                                             "\x83\x9f", "\x81\x7e\x84\x40", "<&>\"", "0123456789abcde<"};
    unit::Random random{5};
    Cp932Decoder decoder;
    for (int n = 0; n < 3000; ++n) {
        std::string text;
        for (std::size_t k = random.below(12); k > 0; --k) text += pieces[random.below(pieces.size())];
        std::optional<std::string> want = unit::viaIconv("UTF-8", "CP932", text);
        ASSERT_EQ(decoded(decoder, text), want) << testing::PrintToString(text);
        std::string escaped(Cp932Decoder::escapedRoom(text.size()), '\0');
        char* end = nullptr;
        std::string error = unit::errorOf([&] { end = decoder.decodeEscapedTo(escaped.data(), text); });
        if (want)
            EXPECT_EQ(std::string(escaped.data(), end), html5::escaped(*want)) << testing::PrintToString(text);
        else
            EXPECT_NE(error, "<no error>") << testing::PrintToString(text);
        // As a line, the text ends at its first zero byte.
        std::string line = text.substr(0, text.find('\0'));
        want = unit::viaIconv("UTF-8", "CP932", line);
        std::string out(Cp932Decoder::utf8Room(text.size()), '\0');
        Cp932Decoder::DecodedRun run{};
        error = unit::errorOf([&] { run = decoder.decodeLineTo(out.data(), text.data(), text.data() + text.size()); });
        if (!want) {
            EXPECT_NE(error, "<no error>") << testing::PrintToString(text);
        } else {
            ASSERT_EQ(error, "<no error>");
            EXPECT_EQ(std::string(out.data(), run.end), *want) << testing::PrintToString(text);
            EXPECT_EQ(run.stop, text.data() + line.size());
        }
    }
}

// A line decoded where it stands stops at its CR, LF or zero byte, and a
// lead byte before one fails as at the end of the text.
TEST(Codepage, LineDecodedUpToItsEnd) {
    Cp932Decoder decoder;
    struct Row {
        std::string text;
        std::optional<std::string> utf8;  // nullopt: the conversion error
        std::size_t stop;
    };
    const std::vector<Row> rows = {
        {"", "", 0}, {"abc\r\ndef", "abc", 3}, {"\x82\xa0\n", "あ", 2}, {std::string("a\0b", 3), "a", 1},
        {"\x82\xa0", "あ", 2}, {"0123456789abcdef\n", "0123456789abcdef", 16}, {"0123456789\rabcdef", "0123456789", 10},
        {"\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8\r", "あいうえお", 10}, {"\xb1\n", "ｱ", 1},
        // a zero byte before a single byte already known is no pair's lead
        {std::string("\x82\xa0\0\xb1", 4), "あ", 2}, {std::string("\x82\xa0\x82\xa2\0\xb1\x82\xa0", 8), "あい", 4},
        {"\x82\r", std::nullopt, 0}, {"\x82\n", std::nullopt, 0}, {std::string("\x82\0", 2), std::nullopt, 0},
        {"\x82", std::nullopt, 0}, {"ab\xff\n", std::nullopt, 0},
    };
    for (const Row& row : rows) {
        std::string out(Cp932Decoder::utf8Room(row.text.size()), '\0');
        const char* begin = row.text.data();
        Cp932Decoder::DecodedRun run{};
        std::string error = unit::errorOf([&] { run = decoder.decodeLineTo(out.data(), begin, begin + row.text.size()); });
        if (!row.utf8) {
            EXPECT_NE(error, "<no error>") << testing::PrintToString(row.text);
            continue;
        }
        ASSERT_EQ(error, "<no error>") << testing::PrintToString(row.text);
        EXPECT_EQ(std::string(out.data(), run.end), *row.utf8) << testing::PrintToString(row.text);
        EXPECT_EQ(static_cast<std::size_t>(run.stop - begin), row.stop) << testing::PrintToString(row.text);
    }
}

// Every character of the Basic Multilingual Plane encodes to iconv's bytes or fails where iconv fails.
TEST(Codepage, EncoderGivesIconvBytes) {
    Cp932Encoder encoder;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::uint32_t c = 1; c < 0x10000; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            std::string text = utf8Of(c) + "a" + utf8Of(c);
            ASSERT_EQ(encoded(encoder, text), unit::viaIconv("CP932", "UTF-8", text)) << std::hex << c;
        }
    }
    EXPECT_EQ(encoder.toCp932("¥"), "\\");  // iconv's own mapping
    const std::vector<std::string> bad = {"é", "😀", "a😀", "\x80", "\xc3", "\xe3\x81", "\xc0\xaf",
                                          "\xed\xa0\x80"};
    for (const std::string& text : bad) {
        EXPECT_EQ(unit::errorOf([&] { encoder.toCp932(text); }), unit::conversionError) << text;
        std::string copy = "x" + text;
        EXPECT_EQ(unit::errorOf([&] { encoder.convertInPlace(copy, 0); }), unit::conversionError) << text;
    }
    std::string mixed = "<span>あ</span>漢字 ｱ\"";
    std::string want = encoder.toCp932(mixed);
    encoder.convertInPlace(mixed, 6);
    EXPECT_EQ(mixed, want);
    EXPECT_EQ(want, "<span>\x82\xa0</span>\x8a\xbf\x8e\x9a \xb1\"");
}

}  // namespace

namespace {

// Pieces of UTF-8 text and of what is not: runs of them must be accepted
// exactly where iconv accepts them, wherever a piece falls in a block of
// sixteen bytes.
const std::vector<std::string> utf8Pieces = {
    "a",        "\t",       "\xc3\xa9",         "\xe3\x81\x82",     "\xef\xbc\x81",     "\xe1\x80\x80",
    "\xec\xbf\xbf", "\xee\x80\x80", "\xf0\x9f\x98\x80", "\xe0\xa0\x80", "\xed\x9f\xbf",
    "\xe0\x80\x80",  // overlong
    "\xed\xa0\x80",  // surrogate
    "\xe3\x81",      // cut short
    "\xe3\xc1\x82",  // not a continuation
    "\x80",          "\xff",     "\xc0\xaf",         "\xf4\x90\x80\x80",
};

}  // namespace

TEST(Codepage, Utf8CheckAgreesWithIconv) {
    unit::Random random{11};
    for (int n = 0; n < 4000; ++n) {
        std::string text;
        // Mostly long runs of one three-byte character, so that the faults
        // land at every place of a block.
        const std::string& run = utf8Pieces[3 + random.below(4)];
        for (std::size_t k = random.below(12); k > 0; --k) text += run;
        for (std::size_t k = random.below(4); k > 0; --k) text += utf8Pieces[random.below(utf8Pieces.size())];
        for (std::size_t k = random.below(12); k > 0; --k) text += run;
        bool valid = unit::viaIconv("UTF-16LE", "UTF-8", text).has_value();
        EXPECT_EQ(unit::errorOf([&] { checkUtf8(text); }), valid ? "<no error>" : unit::conversionError)
            << testing::PrintToString(text);
    }
}
