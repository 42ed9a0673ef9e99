// The whole conversion in memory, script bytes to page bytes. The first
// input byte picks the mode (byte % 3: text, style, class) and line numbers
// (byte / 3 % 2); the rest is the script. Every outcome is compared with a
// plain rebuild: lines cut by hand, each converted by iconv as a whole,
// tokenized by the all-lines form, every token formatted one by one, and
// each page line converted back by iconv. Both must give the same page, or
// fail with the same message.
//
// The same bytes are then read as CP932 and as UTF-8 scripts, each for a
// CP932 page and a UTF-8 page, strictly and leniently (the lenient run cut
// into 1 to 4 parts, by the first byte / 6). A lenient run never fails on a
// line: it gives the strict run's page with no warning where that one
// works, and where that one fails (a line that does not decode or
// tokenize), a page with warnings or an encoding failure.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codepage.h"
#include "converter.h"
#include "fuzz_support.h"
#include "generator.h"
#include "nscr/error.h"
#include "nscr/token.h"

namespace {

struct Setup {
    std::unique_ptr<Generator> generators[6];
    std::unique_ptr<Generator> utf8Generators[6];
    Cp932Decoder decoder;
    IconvDescriptor toUtf8{"UTF-8", "CP932"};
    IconvDescriptor toCp932{"CP932", "UTF-8"};
};

Setup* setup = nullptr;

const std::string& conversionMessage() {
    static const std::string message = std::string("Couldn't convert string: ") + std::strerror(EILSEQ);
    return message;
}

bool isAsciiOnly(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Lines end at CR, LF or CR LF; a line end at the very end starts no line.
std::vector<std::string_view> cutLines(std::string_view script) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < script.size()) {
        std::size_t end = start;
        while (end < script.size() && script[end] != '\r' && script[end] != '\n') ++end;
        lines.push_back(script.substr(start, end - start));
        if (end == script.size()) break;
        if (script[end] == '\r' && end + 1 < script.size() && script[end + 1] == '\n') ++end;
        start = end + 1;
    }
    return lines;
}

std::string rebuildPage(std::string_view script, Generator& generator) {
    std::vector<std::string> lines;
    for (std::string_view raw : cutLines(script)) {
        raw = raw.substr(0, raw.find('\0'));
        std::string utf8;
        if (isAsciiOnly(raw)) {
            utf8 = raw;
        } else if (setup->toUtf8.convert(raw, utf8) != IconvDescriptor::Result::converted) {
            throw nscr::Error(conversionMessage());
        }
        lines.push_back(std::move(utf8));
    }
    std::vector<nscr::TokenLine> tokenLines = nscr::parseToToken(lines);
    std::string page = generator.header();
    for (std::size_t i = 0; i < tokenLines.size(); ++i) {
        std::string markup = generator.lineNumber(static_cast<std::int32_t>(i + 1));
        for (const nscr::Token& token : tokenLines[i]) markup += generator.formatToken(token);
        std::string cp932;
        if (setup->toCp932.convert(markup, cp932) != IconvDescriptor::Result::converted)
            throw nscr::Error(conversionMessage());
        page += cp932;
        page += "\r\n";
    }
    page += generator.footer();
    return page;
}

struct Outcome {
    std::optional<std::string> page;
    std::string message;
};

template <typename Convert>
Outcome run(Convert convert, const char* who) {
    Outcome outcome;
    try {
        outcome.page = convert();
    } catch (const nscr::Error& error) {
        outcome.message = error.what();
    } catch (...) {
        fuzz::fail(who, "raised something other than nscr::Error");
    }
    return outcome;
}

struct SettledOutcome {
    Outcome outcome;
    std::size_t warnings = 0;
};

SettledOutcome convertWith(std::string_view script, const Generator& generator, const ScriptSettings& settings,
                           std::size_t parts) {
    SettledOutcome settled;
    settled.outcome = run(
        [&] {
            ConvertedScript converted = convertScript(script, generator, settings, setup->decoder, parts);
            settled.warnings = converted.warnings.total();
            return converted.page.finish();
        },
        settings.lenient ? "lenient convertScript" : "strict convertScript");
    return settled;
}

void checkLenient(std::string_view script, const Generator& generator, TextEncoding encoding, std::size_t parts) {
    SettledOutcome strict = convertWith(script, generator, ScriptSettings{encoding, false}, 1);
    SettledOutcome lenient = convertWith(script, generator, ScriptSettings{encoding, true}, parts);
    const std::string& message = lenient.outcome.message;
    fuzz::require(strict.warnings == 0, "strict run with warnings");
    if (!lenient.outcome.page)
        fuzz::require(message == conversionMessage(), "lenient run fails other than by conversion", message);
    if (strict.outcome.page) {
        fuzz::require(lenient.outcome.page == strict.outcome.page, "lenient page differs from the strict page", message);
        fuzz::require(lenient.warnings == 0, "warnings where the strict run works");
    } else {
        fuzz::require(!lenient.outcome.page || lenient.warnings > 0, "lenient page without the failing line's warning");
    }
}

bool isKnownMessage(std::string_view message, std::size_t lineCount) {
    std::size_t index = 0;
    return message == conversionMessage() || fuzz::isIndexedTokenizerMessage(message, lineCount, index);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    nscr::loadReservedCommandsFromText(fuzz::sampleCommands);
    setup = new Setup;
    for (int i = 0; i < 6; ++i)
        setup->generators[i] = std::make_unique<Generator>(static_cast<OutputMode>(i % 3), i / 3 % 2 == 1);
    for (int i = 0; i < 6; ++i)
        setup->utf8Generators[i] =
            std::make_unique<Generator>(static_cast<OutputMode>(i % 3), i / 3 % 2 == 1, TextEncoding::UTF8);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Generator& generator = *setup->generators[data[0] % 6];
    std::string_view script = fuzz::asText(data + 1, size - 1);

    Outcome converted = run([&] { return convertScript(script, generator, setup->decoder); }, "convertScript");
    Outcome rebuilt = run([&] { return rebuildPage(script, generator); }, "the rebuild");

    if (!converted.page)
        fuzz::require(isKnownMessage(converted.message, cutLines(script).size()), "unknown conversion message",
                      converted.message);
    fuzz::require(converted.page.has_value() == rebuilt.page.has_value(),
                  converted.page ? "page written where the rebuild fails" : "conversion fails where the rebuild works",
                  converted.page ? rebuilt.message : converted.message);
    if (converted.page)
        fuzz::require(*converted.page == *rebuilt.page, "page differs from the rebuild");
    else
        fuzz::require(converted.message == rebuilt.message, "message differs from the rebuild",
                      converted.message + " / " + rebuilt.message);

    std::size_t parts = 1 + data[0] / 6 % 4;
    for (TextEncoding encoding : {TextEncoding::CP932, TextEncoding::UTF8}) {
        checkLenient(script, generator, encoding, parts);
        checkLenient(script, *setup->utf8Generators[data[0] % 6], encoding, parts);
    }
    return 0;
}
