#include <iconv.h>

#include <string>
#include <vector>

#include "converter.h"
#include "generator.h"
#include "nscr/token.h"
#include "nscr/webhighlight.h"
#include "unit_support.h"

namespace {

using nscr::Token;
using nscr::TokenLine;
using enum nscr::TokenType;

const std::string styleHead =
    "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\"></meta>\r\n"
    "\r\n</head>\r\n<body bgcolor=\"#f0f0f0\">\r\n<pre>\r\n";
const std::string tail = "</pre>\r\n</body>\r\n</html>";

// UTF-8 to CP932 straight through iconv, for pages built the plain way.
std::string cp932(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    std::string out(utf8.size() + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    char* o = out.data();
    std::size_t inLeft = utf8.size(), outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), static_cast<std::size_t>(-1)) << utf8;
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

class Pages : public ::testing::Test {
protected:
    void SetUp() override { nscr::initWebHighlight(); }
    void TearDown() override { nscr::initWebHighlight(); }
};

TEST_F(Pages, HeadAndTail) {
    Generator style(OutputMode::STYLE, false);
    EXPECT_EQ(style.header(), styleHead);
    EXPECT_EQ(style.footer(), tail);
    EXPECT_EQ(style.render({}), styleHead + tail);

    nscr::applyColorText("COMMENT=#123456");  // the sheet reads the table when the generator is made
    Generator classed(OutputMode::CLASS, true);
    std::string head = styleHead;
    head.insert(head.find("\r\n\r\n</head>") + 2, "<style>\r\n" + nscr::styleSheet() + "\r\n</style>\r\n");
    EXPECT_EQ(classed.header(), head);
    EXPECT_NE(head.find("\tcolor: #123456;"), std::string::npos);
    EXPECT_EQ(classed.render({}), head + tail);

    for (OutputMode mode : {OutputMode::TEXT, static_cast<OutputMode>(7)}) {
        Generator text(mode, true);
        EXPECT_EQ(text.header() + text.footer() + text.render({}), "");
    }
    EXPECT_EQ(style.element("p", "", "x", true), "<p>\r\nx\r\n</p>\r\n");
    EXPECT_EQ(style.element("p", "a=1", "", false), "<p a=1></p>\r\n");
}

TEST_F(Pages, LinesAndNumbers) {
    EXPECT_EQ(formatLineNumber(1), "0001: ");
    EXPECT_EQ(formatLineNumber(7), "0007: ");
    EXPECT_EQ(formatLineNumber(9999), "9999: ");
    EXPECT_EQ(formatLineNumber(12345), "12345: ");
    EXPECT_EQ(Generator(OutputMode::STYLE, false).lineNumber(3), "");

    const std::vector<TokenLine> lines = {{Token("<a>", TEXT_BUTTON), Token(" ", SPACE), Token("あ", STRING)}, {}};
    EXPECT_EQ(Generator(OutputMode::TEXT, false).render(lines), "<a> \x82\xa0\r\n\r\n");
    EXPECT_EQ(Generator(OutputMode::TEXT, true).render(lines), "0001: <a> \x82\xa0\r\n0002: \r\n");
    EXPECT_EQ(Generator(OutputMode::STYLE, true).render(lines),
              styleHead + "0001: <span style=\"color: #000000; font-weight: normal;\">&lt;a&gt;</span> "
                          "<span style=\"color: #000000; font-weight: normal;\">\x82\xa0</span>\r\n0002: \r\n" + tail);
    std::vector<TokenLine> many(12345);
    std::string page = Generator(OutputMode::TEXT, true).render(many);
    EXPECT_EQ(page.substr(page.size() - 18), "12344: \r\n12345: \r\n");

    std::vector<TokenLine> bad = {{Token("😀", STRING)}};
    EXPECT_EQ(unit::errorOf([&] { Generator(OutputMode::CLASS, false).render(bad); }), unit::conversionError);
}

// Line openings are counted up from one line to the next: each number is
// right where it grows a digit, on pages made whole and made in parts.
TEST_F(Pages, LineNumbersCountedUpAcrossDigits) {
    constexpr int count = 10002;
    std::string script;
    for (int n = 1; n <= count; ++n) script += "\r\n";
    for (OutputMode mode : {OutputMode::TEXT, OutputMode::STYLE}) {
        Generator generator(mode, true);
        Cp932Decoder decoder;
        std::string whole = convertToPage(script, generator, decoder, 1).finish();
        EXPECT_EQ(convertToPage(script, generator, decoder, 7).finish(), whole) << static_cast<int>(mode);
        std::size_t at = whole.find("0001: ");
        ASSERT_NE(at, std::string::npos);
        for (int n = 1; n <= count; ++n) {
            std::string line = formatLineNumber(n) + "\r\n";
            ASSERT_EQ(whole.substr(at, line.size()), line) << "mode " << static_cast<int>(mode) << " line " << n;
            at += line.size();
        }
    }
}

// The fast page writer gives the bytes of the page built token by token through the plain formatters.
TEST_F(Pages, FastPageEqualsThePlainPage) {
    const std::vector<std::string_view> pieces = {"a", "Z", "0", " ", "<", ">", "&", "\"", "'", ";", "あ", "漢字",
                                                  "「"};
    unit::Random random{7};
    auto randomText = [&] {
        std::string text;
        for (std::size_t k = random.below(5); k > 0; --k) text += pieces[random.below(pieces.size())];
        return text;
    };
    // one escaped byte is replaced whatever the token's type
    EXPECT_EQ(Generator(OutputMode::STYLE, false).render({{Token("&", STRING)}}),
              styleHead + "<span style=\"color: #000000; font-weight: normal;\">&amp;</span>\r\n" + tail);
    const nscr::SpanFormat styled = nscr::SpanFormat::styled(), classed = nscr::SpanFormat::classed();
    for (int n = 0; n < 300; ++n) {
        std::vector<std::string> texts;  // the tokens' bytes live here
        texts.reserve(64);
        std::vector<TokenLine> lines(random.below(6));
        for (TokenLine& line : lines)
            for (std::size_t k = random.below(8); k > 0; --k) {
                texts.push_back(randomText());
                line.emplace_back(texts.back(), static_cast<nscr::TokenType>(random.below(nscr::tokenTypeCount)));
            }
        for (OutputMode mode : {OutputMode::TEXT, OutputMode::STYLE, OutputMode::CLASS})
            for (bool numbers : {false, true}) {
                Generator generator(mode, numbers);
                std::string plain = generator.header();
                std::int32_t number = 0;
                for (const TokenLine& line : lines) {
                    std::string utf8 = generator.lineNumber(++number);
                    for (const Token& token : line) utf8 += generator.formatToken(token);
                    plain += cp932(utf8) + "\r\n";
                }
                plain += generator.footer();
                ASSERT_EQ(generator.render(lines), plain) << "page " << n << " mode " << static_cast<int>(mode);
            }
        for (const TokenLine& line : lines)
            for (const Token& token : line) {
                std::string fast;
                styled.append(fast, token.type, token.text);
                classed.append(fast, token.type, token.text);
                EXPECT_EQ(fast,
                          nscr::formatStyled(token.type, token.text) + nscr::formatClassed(token.type, token.text));
            }
    }
}

TEST_F(Pages, ConvertScriptReportsTheFirstErrorInOrder) {
    nscr::reservedCommands.clear();
    Generator generator(OutputMode::STYLE, false);
    Cp932Decoder decoder;
    auto errorFor = [&](std::string_view script) {
        return unit::errorOf([&] { convertScript(script, generator, decoder); });
    };
    EXPECT_EQ(errorFor("a\nb\n(\n#"), "2: not found ')'.");
    EXPECT_EQ(errorFor("(\n\xff"), unit::conversionError);  // conversion of a later line comes first
    EXPECT_EQ(errorFor("ok\r\n\r\n!x"), "2: input 'd', 's', 'sd', 'w' follow '!'");
    EXPECT_EQ(convertScript("a", generator, decoder),
              styleHead + "<span style=\"color: #000000; font-weight: normal;\">a</span>\r\n" + tail);
}

}  // namespace

namespace {

// Tokens cut from a line's shadow, whose lengths are those of its CP932 pieces.
TokenLine shadowTokens(std::string_view cp932, std::string& shadow) {
    Cp932Decoder decoder;
    shadow.assign(cp932.size(), '\0');
    shadow.resize(static_cast<std::size_t>(decoder.shadowTo(shadow.data(), cp932) - shadow.data()));
    return nscr::parseToToken(shadow);
}

}  // namespace

// A page in UTF-8 takes the CP932 bytes of a line piece by piece, each
// decoded: the same page as from the line's UTF-8 form.
TEST_F(Pages, Cp932PiecesOnAUtf8PageAreDecoded) {
    const std::vector<std::string> lines = {
        ";\x82\xa0<&>\"\x83\x5c\"", "mov $s,\"\x8a\xbf\x8e\x9a\"", "(\x8a\xbf/\x82\xa9)\xb1\xb2", "*lab \x82\xa0",
        "<1\x83\x5c>"};
    for (OutputMode mode : {OutputMode::STYLE, OutputMode::CLASS, OutputMode::TEXT}) {
        Generator generator(mode, true, TextEncoding::UTF8);
        Page pieces = generator.startPage(), whole = generator.startPage();
        std::int64_t number = 0;
        for (const std::string& line : lines) {
            std::string shadow;
            TokenLine tokens = shadowTokens(line, shadow);
            pieces.startLine(++number);
            EXPECT_EQ(pieces.addLineTokens(tokens, line, TextEncoding::CP932), line.size());
            pieces.endLine();
            std::string utf8 = unit::viaIconv("UTF-8", "CP932", line).value();
            whole.addLine(nscr::parseToToken(utf8), number);
        }
        std::string page = pieces.finish();
        EXPECT_EQ(page, whole.finish()) << static_cast<int>(mode);
        if (mode == OutputMode::TEXT) {
            EXPECT_EQ(page.substr(0, 16), "0001: ;\xe3\x81\x82<&>\"\xe3\x82");  // nothing escaped
        }
    }
}
