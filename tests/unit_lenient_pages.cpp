// Lenient and UTF-8 conversion in memory: whatever the number of parts a
// script is cut into, its page and its warnings are those of a plain
// line-by-line run of the lenient tokenizer.

#include <string>
#include <vector>

#include "converter.h"
#include "generator.h"
#include "nscr/lines.h"
#include "nscr/token.h"
#include "nscr/webhighlight.h"
#include "unit_support.h"

namespace {

// Every place the tokenizer recovers from, with its line.
// Columns count bytes of the script's line: for a CP932 line, the bytes of
// the CP932 form of the UTF-8 text before the column.
class FaultList : public nscr::TokenFaultSink {
public:
    std::size_t line = 0;
    std::string_view text;  // UTF-8
    bool cp932 = false;
    std::vector<Warning> faults;
    void recovered(const nscr::TokenFault& fault) override {
        std::size_t column = fault.column;
        if (cp932) column = unit::viaIconv("CP932", "UTF-8", text.substr(0, column)).value_or("").size();
        faults.push_back({line, column, std::string(fault.message)});
    }
};

struct PlainResult {
    std::string page;
    std::vector<Warning> warnings;
};

// The page the slow way: each line cut at its zero byte, decoded whole,
// tokenized leniently, formatted token by token and encoded whole for the
// page.
PlainResult plainLenientPage(std::string_view script, TextEncoding encoding, const Generator& generator) {
    PlainResult result{generator.header(), {}};
    FaultList faults;
    std::int32_t number = 0;
    for (std::string_view raw : nscr::splitLines(script)) {
        raw = raw.substr(0, raw.find('\0'));
        std::string text(raw);
        if (encoding == TextEncoding::CP932) text = unit::viaIconv("UTF-8", "CP932", raw).value_or("<bad>");
        faults.text = text;
        faults.cp932 = encoding == TextEncoding::CP932;
        std::string line = generator.lineNumber(++number);
        for (const nscr::Token& token : nscr::parseToToken(text, faults)) line += generator.formatToken(token);
        if (generator.pageEncoding() == TextEncoding::CP932)
            line = unit::viaIconv("CP932", "UTF-8", line).value_or("<page error>");
        result.page += line + "\r\n";
        ++faults.line;
    }
    result.page += generator.footer();
    result.warnings = std::move(faults.faults);
    return result;
}

// CP932 pieces: text (some with ASCII trail bytes, some NEC duplicates),
// markup, and pieces the strict tokenizer rejects in most places.
const std::vector<std::string> pieces = {
    "mov",  " ",        "%0",    ",",        "1",     ";\x95\x5c<&>", "\"\x83\x5c\"", "*lab", "$s",
    "@",    "\\",       "\x82\xa0", "\x83\x5c", "\x87\x90", "[\x82\xa0]", "!w500",    "`FAIL!!!",
    "!",    "?",        "#1",    "(",        "[a[b]", "\x82\xa4?\x82\xf1", "<1\x83\x5c>", "#zz",
};

std::string randomScript(unit::Random& random, std::size_t lines) {
    const char* ends[] = {"\r\n", "\n", "\r"};
    std::string script;
    for (std::size_t i = 0; i < lines; ++i) {
        for (std::size_t k = random.below(6); k > 0; --k) script += pieces[random.below(pieces.size())];
        if (random.below(20) == 0) script += std::string("\0!(", 3);  // never read
        if (i + 1 < lines || random.below(2) == 0) script += ends[random.below(3)];
    }
    return script;
}

class LenientPages : public unit::WithCommands {
protected:

    // Converts script in 1 to 4 parts and compares each with the plain run.
    static void expectPlainResult(const std::string& script, TextEncoding encoding, const std::string& trace) {
        for (OutputMode mode : {OutputMode::STYLE, OutputMode::CLASS, OutputMode::TEXT})
            for (bool numbers : {false, true}) {
                Generator generator(mode, numbers, encoding);
                PlainResult want = plainLenientPage(script, encoding, generator);
                for (std::size_t parts = 1; parts <= 4; ++parts) {
                    SCOPED_TRACE(trace + " mode " + std::to_string(static_cast<int>(mode)) + " numbers " +
                                 std::to_string(numbers) + " parts " + std::to_string(parts));
                    Cp932Decoder decoder;
                    ConvertedScript got =
                        convertScript(script, generator, ScriptSettings{encoding, true}, decoder, parts);
                    ASSERT_EQ(got.page.finish(), want.page) << testing::PrintToString(script);
                    expectSameWarnings(got.warnings, want.warnings);
                }
            }
    }

    static void expectSameWarnings(const WarningLog& got, const std::vector<Warning>& want) {
        EXPECT_EQ(got.total(), want.size());
        ASSERT_EQ(got.shown().size(), std::min(want.size(), WarningLog::limit));
        for (std::size_t k = 0; k < got.shown().size(); ++k) {
            EXPECT_EQ(got.shown()[k].line, want[k].line) << k;
            EXPECT_EQ(got.shown()[k].column, want[k].column) << k;
            EXPECT_EQ(got.shown()[k].message, want[k].message) << k;
        }
    }
};

TEST_F(LenientPages, Cp932PagesAndWarningsDoNotDependOnTheParts) {
    unit::Random random{1311};
    for (int n = 0; n < 40; ++n) {
        std::string script = randomScript(random, 1 + random.below(60));
        expectPlainResult(script, TextEncoding::CP932, "script " + std::to_string(n));
    }
}

TEST_F(LenientPages, Utf8PagesAndWarningsDoNotDependOnTheParts) {
    unit::Random random{2213};
    for (int n = 0; n < 40; ++n) {
        std::string cp932 = randomScript(random, 1 + random.below(60));
        // The UTF-8 script: each line converted, its zero byte and what
        // follows it kept as they are.
        std::string script;
        std::size_t start = 0;
        while (start < cp932.size()) {
            std::size_t stop = cp932.find_first_of(std::string_view("\r\n\0", 3), start);
            if (stop == std::string::npos) stop = cp932.size();
            script += unit::viaIconv("UTF-8", "CP932", cp932.substr(start, stop - start)).value_or("<bad>");
            std::size_t next = cp932.find_first_of("\r\n", stop);
            if (next == std::string::npos) next = cp932.size();
            if (cp932[stop] == '\0') script += cp932.substr(stop, next - stop);
            if (next < cp932.size()) script += cp932[next];
            start = next + 1;
        }
        expectPlainResult(script, TextEncoding::UTF8, "script " + std::to_string(n));
    }
}

// Warnings are counted over the whole script, and the first twenty shown
// name their lines in it, wherever the parts were cut.
TEST_F(LenientPages, WarningsPastTheLimitAreCountedInEveryPart) {
    std::string script;
    for (int i = 0; i < 200; ++i) script += i % 7 == 0 ? "`FAIL!!!\r\n" : ";quiet\r\n";
    for (TextEncoding encoding : {TextEncoding::CP932, TextEncoding::UTF8})
        for (std::size_t parts = 1; parts <= 4; ++parts) {
            Generator generator(OutputMode::TEXT, false, encoding);
            Cp932Decoder decoder;
            ConvertedScript got = convertScript(script, generator, ScriptSettings{encoding, true}, decoder, parts);
            // Three warnings a bad line: the twentieth is the second of the seventh.
            EXPECT_EQ(got.warnings.total(), 29u * 3) << parts;
            ASSERT_EQ(got.warnings.shown().size(), 20u);
            EXPECT_EQ(got.warnings.shown()[19].line, 6u * 7) << parts;
            EXPECT_EQ(got.warnings.shown()[19].column, 6u);
        }
}

// A BOM starts a UTF-8 script only: dropped there, a character of CP932.
TEST_F(LenientPages, ByteOrderMarkIsDroppedFromUtf8ScriptsOnly) {
    const std::string bom = "\xEF\xBB\xBF";
    Generator utf8(OutputMode::TEXT, false, TextEncoding::UTF8);
    Cp932Decoder decoder;
    EXPECT_EQ(convertScript(bom + "a?\n", utf8, ScriptSettings{TextEncoding::UTF8, true}, decoder, 1).page.finish(),
              "a?\r\n");
    EXPECT_EQ(unit::errorOf([&] {
                  convertScript("a\n" + bom, utf8, ScriptSettings{TextEncoding::UTF8, false}, decoder, 1);
              }),
              "<no error>");
    Generator cp932(OutputMode::TEXT, false);
    EXPECT_EQ(unit::errorOf([&] { convertScript(bom + "a\n", cp932, ScriptSettings{}, decoder, 1); }),
              unit::conversionError);
}

}  // namespace
