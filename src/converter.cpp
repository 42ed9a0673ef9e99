#include "converter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
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

// What the tokenizer reads of a line, and whether the page can take the
// pieces of the line's CP932 bytes as they are.
struct DecodedLine {
    std::string_view tokenizerText;
    std::string_view cp932;
    bool writesCp932 = false;
};

// The line that starts at `at` in text running on to last, up to its first
// zero byte: read through its shadow where every character round-trips
// (which finds the line's end on the way), through its UTF-8 form
// otherwise. The buffer is mapped, so that room asked for but not written
// costs no memory.
struct NextLine {
    DecodedLine decoded;
    const char* end;  // the line's CR or LF, or last
};

NextLine decodeNextLine(const char* at, const char* last, Cp932Decoder& decoder, nscr::ByteBuffer& buffer) {
    buffer.clear();
    char* start = buffer.room(static_cast<std::size_t>(last - at));
    auto [shadowEnd, stop] = decoder.shadowLineTo(start, at, last);
    if (shadowEnd != nullptr) {
        const char* end = stop != last && *stop == '\0' ? nscr::findLineEnd(stop, last) : stop;
        auto length = static_cast<std::size_t>(shadowEnd - start);
        return {{std::string_view(start, length), std::string_view(at, length), true}, end};
    }
    const char* end = nscr::findLineEnd(at, last);
    std::string_view raw(at, static_cast<std::size_t>(end - at));
    start = buffer.room(Cp932Decoder::utf8Room(raw.size()));
    const char* utf8End = decoder.decodeTo(start, raw.substr(0, raw.find('\0')));
    return {{std::string_view(start, static_cast<std::size_t>(utf8End - start)), {}, false}, end};
}

// Where the line after the one ending at lineEnd starts: past CR, LF or CR LF.
const char* pastLineEnd(const char* lineEnd, const char* last) {
    if (*lineEnd == '\r' && lineEnd + 1 != last && lineEnd[1] == '\n') ++lineEnd;
    return lineEnd + 1;
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
        nscr::ByteBuffer script = nscr::readFileBytes(path);
        return convertToPage(script.view(), generator, decoder);
    }();
    nscr::writeWholeFile(path + ".html", page.finishedPieces());
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

namespace {

// What went wrong in one part of a script, kept until every part is done.
struct PartOutcome {
    std::exception_ptr failure;  // a line that does not convert stops its part at once
    // The first line that does not tokenize: its index within the part, and
    // the tokenizer's message.
    std::optional<std::pair<std::size_t, std::string>> tokenError;
    std::optional<nscr::Error> pageError;  // the first line that the page cannot take
};

// Tokens are cut and written this many at a time: any ordinary line in one
// go, while a line of millions of tokens never has them all in memory.
constexpr std::size_t tokenBatch = 1u << 14;

// Writes a batch of a line's tokens, moving offset past their CP932 bytes;
// false, with the error kept in outcome, when the page cannot take them.
bool addBatch(Page& page, const DecodedLine& line, const nscr::TokenLine& tokens, std::size_t& offset,
              PartOutcome& outcome) {
    try {
        if (line.writesCp932) {
            offset += page.addCp932Tokens(tokens, line.cp932.substr(offset));
        } else {
            page.addTokens(tokens);
        }
        return true;
    } catch (const nscr::Error& error) {
        outcome.pageError = error;
        return false;
    }
}

// Tokenizes one line and writes it onto page batch by batch, unless an
// earlier line failed. After an error the page is never used, so what a
// failing line wrote stays.
void convertLine(const DecodedLine& line, std::size_t index, std::int64_t number, Page& page,
                 nscr::TokenLine& tokens, PartOutcome& outcome) {
    bool writing = !outcome.pageError;
    if (writing) page.startLine(number);
    nscr::TokenCutter cutter(line.tokenizerText);
    std::size_t offset = 0;
    try {
        while (cutter.cutNext(tokens, tokenBatch)) writing = writing && addBatch(page, line, tokens, offset, outcome);
    } catch (const nscr::Error& error) {
        outcome.tokenError.emplace(index, error.what());
        return;
    }
    if (writing) page.endLine();
}

// Converts the lines of text onto page, numbering them from firstNumber. A
// line that does not convert raises its error at once; the first tokenizer
// and page errors are kept in outcome, and after a tokenizer error the
// lines are only converted.
void convertLines(std::string_view text, std::int64_t firstNumber, Page& page, Cp932Decoder& decoder,
                  PartOutcome& outcome) {
    nscr::ByteBuffer lineBuffer;
    nscr::TokenLine tokens;
    const char* at = text.data();
    const char* const last = at + text.size();
    // Lines are cut as forEachLine cuts them: a line end at the very end of
    // the text starts no other line.
    for (std::size_t index = 0; at != last; ++index) {
        NextLine line = decodeNextLine(at, last, decoder, lineBuffer);
        if (!outcome.tokenError)
            convertLine(line.decoded, index, firstNumber + static_cast<std::int64_t>(index), page, tokens, outcome);
        if (line.end == last) break;
        at = pastLineEnd(line.end, last);
    }
}

void convertPart(std::string_view text, std::int64_t firstNumber, Page& page, Cp932Decoder& decoder,
                 PartOutcome& outcome) noexcept {
    try {
        convertLines(text, firstNumber, page, decoder, outcome);
    } catch (...) {
        outcome.failure = std::current_exception();
    }
}

std::size_t countLines(std::string_view text) {
    std::size_t lines = 0;
    nscr::forEachLine(text, [&](std::string_view) { ++lines; });
    return lines;
}

// The lines of the script before this piece of it.
std::size_t linesBefore(std::string_view script, std::string_view piece) {
    return countLines(script.substr(0, static_cast<std::size_t>(piece.data() - script.data())));
}

// Raises what a run over the lines one after another would: a line that
// does not convert stops it at once, wherever that line is; then the first
// tokenizer error, named by its line's index in the script; then the first
// page error.
void raiseFirstError(std::string_view script, const std::vector<std::string_view>& pieces,
                     const std::vector<PartOutcome>& outcomes) {
    for (const PartOutcome& outcome : outcomes)
        if (outcome.failure) std::rethrow_exception(outcome.failure);
    for (std::size_t k = 0; k < outcomes.size(); ++k)
        if (const auto& error = outcomes[k].tokenError) {
            std::size_t index = linesBefore(script, pieces[k]) + error->first;
            throw nscr::Error(nscr::lineErrorMessage(index, error->second));
        }
    for (const PartOutcome& outcome : outcomes)
        if (outcome.pageError) throw *outcome.pageError;
}

// Where the line after the one that holds text[from] starts (text.size()
// when that line is the last).
std::size_t nextLineStart(std::string_view text, std::size_t from) {
    const char* end = text.data() + text.size();
    const char* q = nscr::findLineEnd(text.data() + from, end);
    if (q == end) return text.size();
    return static_cast<std::size_t>(pastLineEnd(q, end) - text.data());
}

// Up to `parts` pieces of about equal size, each of whole lines.
std::vector<std::string_view> splitAtLines(std::string_view text, std::size_t parts) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t k = 1; k < parts; ++k) {
        std::size_t cut = nextLineStart(text, std::max(start, text.size() / parts * k));
        if (cut >= text.size()) break;
        pieces.push_back(text.substr(start, cut - start));
        start = cut;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

// Large scripts are cut into parts converted side by side, one per
// processor; below this size a part would not pay for its thread.
constexpr std::size_t smallestPart = 1u << 20;
constexpr std::size_t mostParts = 8;

std::size_t partCountFor(std::size_t scriptSize) {
    std::size_t processors = std::max(1u, std::thread::hardware_concurrency());
    return std::max<std::size_t>(1, std::min({processors, mostParts, scriptSize / smallestPart}));
}

}  // namespace

Page convertToPage(std::string_view script, const Generator& generator, Cp932Decoder& decoder,
                   std::size_t partCount) {
    std::vector<std::string_view> pieces = splitAtLines(script, std::max<std::size_t>(partCount, 1));
    std::vector<Page> pages;
    pages.reserve(pieces.size());
    pages.push_back(generator.startPage(expectedPageSize(script.size(), generator.outputMode())));
    for (std::size_t k = 1; k < pieces.size(); ++k)
        pages.push_back(generator.startPart(expectedPageSize(pieces[k].size(), generator.outputMode())));
    std::vector<PartOutcome> outcomes(pieces.size());

    // A part's first line number is only needed on its page when the page
    // shows numbers; errors are numbered once all parts are done.
    auto firstNumber = [&](std::size_t k) -> std::int64_t {
        if (k == 0 || !generator.showsLineNumbers()) return 1;
        return static_cast<std::int64_t>(linesBefore(script, pieces[k])) + 1;
    };
    std::vector<std::thread> workers;
    for (std::size_t k = 1; k < pieces.size(); ++k) {
        auto work = [&, k] {
            Cp932Decoder ownDecoder;
            convertPart(pieces[k], firstNumber(k), pages[k], ownDecoder, outcomes[k]);
        };
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            work();  // no thread to be had: this one does the part
        }
    }
    convertPart(pieces[0], firstNumber(0), pages[0], decoder, outcomes[0]);
    for (std::thread& worker : workers) worker.join();

    raiseFirstError(script, pieces, outcomes);
    for (std::size_t k = 1; k < pages.size(); ++k) pages[0].appendPart(pages[k]);
    return std::move(pages[0]);
}

Page convertToPage(std::string_view script, const Generator& generator, Cp932Decoder& decoder) {
    return convertToPage(script, generator, decoder, partCountFor(script.size()));
}

std::string convertScript(std::string_view script, const Generator& generator, Cp932Decoder& decoder) {
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
