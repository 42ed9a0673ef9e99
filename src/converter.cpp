#include "converter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

#include "cmdline.h"
#include "nscr/error.h"
#include "nscr/file.h"
#include "nscr/lines.h"
#include "nscr/token.h"
#include "nscr/webhighlight.h"

namespace {

constexpr int versionMajor = 1;
constexpr int versionMinor = 0;

constexpr const char* usageFormat =
    "Hibarune Ver.%d.%d\n"
    "USAGE:\n"
    "  hibarune filename ... [-option]\n"
    "\n"
    "  filename    スクリプトファイル名\n"
    "  -lineno     行番号を表示する。\n"
    "  -class      class属性指定で出力する。\n";

constexpr const char* commandsFileName = "commands.txt";
constexpr const char* colorPath = "color.txt";

// Everything before the last "/" ("/" itself for a file in the root).
std::string directoryPart(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    return directory.back() == '/' ? directory + name : directory + "/" + name;
}

void printToStdout(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw nscr::Error(std::strerror(errno));
}

OutputMode outputModeFor(const OptionList& options) {
    OutputMode mode = OutputMode::STYLE;
    if (options.hasOption("class")) mode = OutputMode::CLASS;
    if (options.hasOption("text")) mode = OutputMode::TEXT;
    return mode;
}

bool isAsciiOnly(std::string_view text) {
    constexpr std::uint64_t highBits = 0x8080808080808080u;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, sizeof word);
        if ((word & highBits) != 0) return false;
    }
    for (; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    return true;
}

// What the tokenizer reads of a line, and the line's CP932 bytes when the
// page can take its pieces from them as they are (empty otherwise).
struct DecodedLine {
    std::string_view tokenizerText;
    std::string_view cp932;
};

// A buffer that only ever grows, so that it is cleared once, not per line.
char* roomIn(std::string& buffer, std::size_t size) {
    if (buffer.size() < size) buffer.resize(std::max(size, buffer.size() * 2));
    return buffer.data();
}

// An ASCII line is its own UTF-8 and CP932 form. Other lines are read
// through their shadow where every character round-trips, and through their
// UTF-8 form otherwise.
DecodedLine decodeLine(std::string_view raw, Cp932Decoder& decoder, std::string& buffer) {
    raw = raw.substr(0, raw.find('\0'));
    if (isAsciiOnly(raw)) return {raw, raw};
    char* start = roomIn(buffer, Cp932Decoder::utf8Room(raw.size()));
    if (const char* end = decoder.shadowTo(start, raw))
        return {std::string_view(start, static_cast<std::size_t>(end - start)), raw};
    const char* end = decoder.decodeTo(start, raw);
    return {std::string_view(start, static_cast<std::size_t>(end - start)), {}};
}

// A page is a few times the script: markup around every token. Reserving
// generously costs only address space, while growing a large page means
// copying it.
std::size_t expectedPageSize(std::size_t scriptSize, OutputMode mode) {
    return mode == OutputMode::STYLE || mode == OutputMode::CLASS ? scriptSize * 8 : scriptSize + scriptSize / 2;
}

void convertFile(const std::string& path, Generator& generator, Cp932Decoder& decoder) {
    // The script is let go before the page is written.
    Page page = [&] {
        std::string script = nscr::readWholeFile(path);
        return convertToPage(script, generator, decoder);
    }();
    nscr::writeWholeFile(path + ".html", page.finishedBytes());
}

void convertAll(const std::vector<std::string>& arguments) {
    std::string commandsPath = commandsPathFor(programDirectory(arguments[0]));
    OptionList options(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    bool lineNumbers = options.hasOption("lineno");
    OutputMode mode = outputModeFor(options);

    nscr::loadReservedCommands(commandsPath);
    nscr::loadColorFile(colorPath);
    // Made after both files are read, so that a CLASS page's style sheet
    // carries the colours of "color.txt".
    Generator generator(mode, lineNumbers);
    Cp932Decoder decoder;
    for (const std::string& file : options.files) convertFile(file, generator, decoder);
}

}  // namespace

std::string usageText() {
    int size = std::snprintf(nullptr, 0, usageFormat, versionMajor, versionMinor);
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), usageFormat, versionMajor, versionMinor);
    text.resize(static_cast<std::size_t>(size));
    return text;
}

std::string programDirectory(const std::string& argv0) {
    std::string target(4096, '\0');
    ssize_t length = ::readlink("/proc/self/exe", target.data(), target.size());
    if (length > 0 && static_cast<std::size_t>(length) < target.size()) {
        target.resize(static_cast<std::size_t>(length));
        return directoryPart(target);
    }
    return directoryPart(argv0);
}

std::string commandsPathFor(const std::string& directory) {
    std::string beside = joinPath(directory, commandsFileName);
    if (nscr::pathExists(beside)) return beside;
    std::string installed = joinPath(joinPath(directory, "../share/hibarune"), commandsFileName);
    if (nscr::pathExists(installed)) return installed;
    return beside;
}

Page convertToPage(std::string_view script, Generator& generator, Cp932Decoder& decoder) {
    Page page = generator.startPage(expectedPageSize(script.size(), generator.outputMode()));
    std::string lineBuffer;
    nscr::TokenLine tokens;
    std::optional<nscr::Error> tokenError;
    std::optional<nscr::Error> pageError;
    std::size_t index = 0;
    nscr::forEachLine(script, [&](std::string_view raw) {
        DecodedLine line = decodeLine(raw, decoder, lineBuffer);
        if (!tokenError) {
            try {
                nscr::parseToToken(line.tokenizerText, tokens);
            } catch (const nscr::Error& error) {
                tokenError.emplace(nscr::lineErrorMessage(index, error.what()));
            }
        }
        if (!tokenError && !pageError) {
            try {
                auto number = static_cast<std::int64_t>(index) + 1;
                if (line.cp932.empty()) {
                    page.addLine(tokens, number);
                } else {
                    page.addCp932Line(tokens, line.cp932, number);
                }
            } catch (const nscr::Error& error) {
                pageError = error;
            }
        }
        ++index;
    });
    if (tokenError) throw *tokenError;
    if (pageError) throw *pageError;
    return page;
}

std::string convertScript(std::string_view script, Generator& generator, Cp932Decoder& decoder) {
    return convertToPage(script, generator, decoder).finish();
}

int runHibarune(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2) {
        printToStdout(toLocaleText(usageText()));
        return 0;
    }
    try {
        convertAll(arguments);
    } catch (const std::exception& error) {
        printToStdout(std::string(error.what()) + "\n");
        return 1;
    }
    return 0;
}
