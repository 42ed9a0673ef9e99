#include "converter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/check_command.h"
#include "cli/output_plan.h"
#include "cli/reading_run.h"
#include "input/encoding_check.h"
#include "cmdline.h"
#include "nscr/error.h"
#include "nscr/file.h"
#include "nscr/lines.h"
#include "nscr/parallel.h"
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

std::string encodingName(TextEncoding encoding) { return encoding == TextEncoding::UTF8 ? "UTF-8" : "CP932"; }

// A line as the tokenizer reads it, and the bytes the page takes piece by
// piece for its tokens, in the given encoding.
struct DecodedLine {
    std::string_view tokenizerText;
    std::string_view pageBytes;
    TextEncoding pageBytesEncoding = TextEncoding::UTF8;
    // The CP932 line when the tokenizer reads its UTF-8 form, so that a
    // column can be told in the script's bytes.
    std::string_view cp932Original;
};

bool isCp932LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The column in the script's bytes of a column of the line's text. Each
// CP932 character is one character of the UTF-8 form.
std::size_t scriptColumn(const DecodedLine& line, std::size_t column) {
    if (line.cp932Original.empty()) return column;
    std::string_view utf8 = line.tokenizerText;
    std::size_t cp932 = 0;
    for (std::size_t at = 0; at < column && at < utf8.size() && cp932 < line.cp932Original.size();) {
        auto lead = static_cast<unsigned char>(utf8[at]);
        at += lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        cp932 += isCp932LeadByte(static_cast<unsigned char>(line.cp932Original[cp932])) ? 2 : 1;
    }
    return cp932;
}

// The line that starts at `at` in text running on to last, decoded, and
// where it ends (its CR or LF, or last).
struct NextLine {
    DecodedLine decoded;
    const char* end = nullptr;
};

// How the lines of a script are decoded: one reader per part of a script,
// chosen by the script's encoding. A reader gives next(at, last) for the
// line that starts at `at`.

// CP932 lines, read through their shadow where every character
// round-trips (which finds the line's end on the way), through their UTF-8
// form otherwise. The buffer is mapped, so that room asked for but not
// written costs no memory.
class Cp932LineReader {
public:
    explicit Cp932LineReader(Cp932Decoder& decoder) : decoder_(decoder) {}
    NextLine next(const char* at, const char* last) {
        buffer_.clear();
        char* start = buffer_.room(static_cast<std::size_t>(last - at));
        auto [shadowEnd, stop] = decoder_.shadowLineTo(start, at, last);
        if (shadowEnd != nullptr) {
            const char* end = stop != last && *stop == '\0' ? nscr::findLineEnd(stop, last) : stop;
            auto length = static_cast<std::size_t>(shadowEnd - start);
            return {{std::string_view(start, length), std::string_view(at, length), TextEncoding::CP932, {}}, end};
        }
        const char* end = nscr::findLineEnd(at, last);
        std::string_view raw(at, static_cast<std::size_t>(end - at));
        start = buffer_.room(Cp932Decoder::utf8Room(raw.size()));
        const char* utf8End = decoder_.decodeTo(start, raw.substr(0, raw.find('\0')));
        std::string_view utf8(start, static_cast<std::size_t>(utf8End - start));
        return {{utf8, utf8, TextEncoding::UTF8, raw.substr(0, raw.find('\0'))}, end};
    }

private:
    Cp932Decoder& decoder_;
    nscr::ByteBuffer buffer_;
};

// CP932 lines for a UTF-8 page: decoded whole, so that the page takes the
// tokens' bytes as they stand; decoding finds the line's end on the way.
// The buffer is mapped, so that room asked for but not written costs no
// memory.
class Cp932ToUtf8LineReader {
public:
    explicit Cp932ToUtf8LineReader(Cp932Decoder& decoder) : decoder_(decoder) {}
    NextLine next(const char* at, const char* last) {
        buffer_.clear();
        char* start = buffer_.room(Cp932Decoder::utf8Room(static_cast<std::size_t>(last - at)));
        auto [utf8End, stop] = decoder_.decodeLineTo(start, at, last);
        const char* end = stop != last && *stop == '\0' ? nscr::findLineEnd(stop, last) : stop;
        std::string_view raw(at, static_cast<std::size_t>(stop - at));
        std::string_view utf8(start, static_cast<std::size_t>(utf8End - start));
        // A line of ASCII has the same columns in both forms.
        std::string_view original = utf8.size() == raw.size() ? std::string_view() : raw;
        return {{utf8, utf8, TextEncoding::UTF8, original}, end};
    }

private:
    Cp932Decoder& decoder_;
    nscr::ByteBuffer buffer_;
};

// UTF-8 lines are read as they stand, once checked.
class Utf8LineReader {
public:
    NextLine next(const char* at, const char* last) {
        const char* stop = nscr::findLineEndOrZero(at, last);
        const char* end = stop != last && *stop == '\0' ? nscr::findLineEnd(stop, last) : stop;
        std::string_view line(at, static_cast<std::size_t>(stop - at));
        checkUtf8(line);
        return {{line, line, TextEncoding::UTF8, {}}, end};
    }
};

// Where the line after the one ending at lineEnd starts: past CR, LF or CR LF.
const char* pastLineEnd(const char* lineEnd, const char* last) {
    if (*lineEnd == '\r' && lineEnd + 1 != last && lineEnd[1] == '\n') ++lineEnd;
    return lineEnd + 1;
}

// A page is a few times the script: markup around every token. Reserving
// generously costs only address space, while growing a large page means
// copying it.
std::size_t expectedPageSize(std::size_t scriptSize, OutputMode mode) {
    return mode == OutputMode::TEXT ? scriptSize + scriptSize / 2 : scriptSize * 8;
}

std::string_view withoutByteOrderMark(std::string_view script, TextEncoding encoding) {
    constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";
    if (encoding == TextEncoding::UTF8 && script.starts_with(utf8Mark)) script.remove_prefix(utf8Mark.size());
    return script;
}

// What a run is asked to do, from its options.
struct RunSettings {
    OutputMode mode = OutputMode::STYLE;
    bool lineNumbers = false;
    ScriptSettings script;
    TextEncoding pageEncoding = TextEncoding::CP932;
    std::string outputDirectory;  // empty: pages beside their scripts
};

OutputMode outputModeFor(const OptionList& options) {
    OutputMode mode = OutputMode::STYLE;
    if (options.hasOption("class")) mode = OutputMode::CLASS;
    if (options.hasOption("text")) mode = OutputMode::TEXT;
    return mode;
}

RunSettings runSettingsFor(const OptionList& options) {
    RunSettings settings;
    settings.mode = outputModeFor(options);
    settings.lineNumbers = options.hasOption("lineno");
    settings.script.lenient = options.hasOption("lenient");
    if (options.hasOption("utf8")) settings.script.encoding = TextEncoding::UTF8;
    settings.pageEncoding = settings.script.encoding;
    settings.outputDirectory = options.value("o").value_or("");
    return settings;
}

void printToStderr(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
}

// "FILE:LINE:COLUMN: KIND: MESSAGE" and a line end; line and column count
// from 0 here and from 1 in the text.
std::string diagnostic(const std::string& file, std::size_t line, std::size_t column, std::string_view kind,
                       std::string_view message) {
    return file + ":" + std::to_string(line + 1) + ":" + std::to_string(column + 1) + ": " + std::string(kind) +
           ": " + std::string(message) + "\n";
}

void reportWarnings(const std::string& file, const WarningLog& warnings) {
    std::string text;
    for (const Warning& warning : warnings.shown())
        text += diagnostic(file, warning.line, warning.column, "warning", warning.message);
    if (warnings.total() > warnings.shown().size())
        text += file + ": " + std::to_string(warnings.total() - warnings.shown().size()) +
                " more warnings not shown\n";
    printToStderr(text);
}

// The one line on standard output that every failure gives.
void reportFailure(std::string_view message) { printToStdout(std::string(message) + "\n"); }

// A line that does not tokenize or decode is also named on standard error
// as FILE:LINE:COLUMN.
void reportFailure(const std::string& file, const ScriptPlaceError& error) {
    reportFailure(error.what());
    printToStderr(diagnostic(file, error.index(), error.column(), "error", error.message()) + file +
                  ": note: -lenient converts the script anyway, with a warning for each such place\n");
}

// A run converts its scripts one by one, writing each page as it is done.
class Run {
public:
    Run(const RunSettings& settings, const Generator& generator) : settings_(settings), generator_(generator) {}

    // Converts one script; false when it failed (reported already).
    bool convert(const std::string& file) {
        try {
            ConvertedScript converted = convertFile(file);
            reportWarnings(file, converted.warnings);
            nscr::writeWholeFile(pagePathFor(file, settings_.outputDirectory), converted.page.finishedPieces());
        } catch (const ScriptPlaceError& error) {
            reportFailure(file, error);
            return false;
        } catch (const std::bad_alloc&) {
            reportFailure(file + ": " + std::strerror(ENOMEM));
            return false;
        } catch (const nscr::Error& error) {
            reportFailure(error.what());
            return false;
        }
        return true;
    }

private:
    ConvertedScript convertFile(const std::string& file) {
        // The script is let go before the page is written.
        nscr::ByteBuffer script = nscr::readFileBytes(file);
        return convertScript(script.view(), generator_, settings_.script, decoder_);
    }

    const RunSettings& settings_;
    const Generator& generator_;
    Cp932Decoder decoder_;
};

// ---- The run ------------------------------------------------------------------

// Warns of each option that has no effect, naming the nearest known one.
void warnOfUnknownOptions(const OptionList& options) {
    std::string text;
    for (const std::string& option : options.unknown) {
        text += "warning: unknown option " + option + " ignored";
        if (auto nearest = nearestOption(std::string_view(option).substr(1)))
            text += "; did you mean " + *nearest + "?";
        text += "\n";
    }
    printToStderr(text);
}

// Colours are written in the page's encoding: one it cannot hold is
// skipped.
nscr::ColorValueCheck colorValueCheck(TextEncoding pageEncoding) {
    auto encoder = std::make_shared<Cp932Encoder>();
    return [pageEncoding, encoder](std::string_view value) -> std::optional<std::string> {
        if (std::all_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return std::nullopt;
        try {
            if (pageEncoding == TextEncoding::UTF8) checkUtf8(value);
            else encoder->toCp932(value);
        } catch (const nscr::Error&) {
            return "the page's encoding, " + encodingName(pageEncoding) + ", cannot hold it";
        }
        return std::nullopt;
    };
}

// Loads the command table; a line out of format is also named, with its
// number, on standard error.
void loadCommands(const std::string& path) {
    try {
        nscr::loadReservedCommands(path);
    } catch (const nscr::CommandsFormatError& error) {
        printToStderr(path + ":" + std::to_string(error.line()) + ": error: " + error.reason() + "\n");
        throw;
    }
}

int convertAll(const std::vector<std::string>& arguments) {
    std::string commandsPath = commandsPathFor(programDirectory(arguments[0]));
    OptionList options(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    warnOfUnknownOptions(options);
    if (options.hasOption("help") || options.hasOption("-help") || options.hasOption("h")) {
        printToStdout(toLocaleText(helpText()));
        return 0;
    }
    if (options.hasOption("-version")) {
        printToStdout(versionText());
        return 0;
    }
    if (!options.missingValues.empty()) {
        printToStdout(options.missingValues.front() + ": needs a value\n");
        return 1;
    }
    bool html5 = options.hasOption("html5");
    if (wantsCheckCommand(options) && !html5) return runCheckCommand(options, commandsPath);
    if (options.files.empty()) {
        printToStdout(toLocaleText(usageText()));
        printToStderr("warning: no script given; nothing converted\n");
        return 1;
    }
    RunSettings settings = runSettingsFor(options);
    if (options.hasOption("o") && settings.outputDirectory.empty()) {
        printToStdout("-o: needs the name of a folder\n");
        return 1;
    }

    loadCommands(commandsPath);
    // The reading pages are UTF-8 whatever the scripts' encoding.
    TextEncoding pageEncoding = html5 ? TextEncoding::UTF8 : settings.pageEncoding;
    for (const nscr::ColorWarning& warning : nscr::loadColorFile(colorPath, colorValueCheck(pageEncoding)))
        printToStderr(std::string(colorPath) + ":" + std::to_string(warning.line) + ": warning: " + warning.message +
                      "\n");
    // The reading pages plan their outputs once the game's files are known.
    if (html5) return runReadingPages(options, settings.outputDirectory, {commandsPath, colorPath});

    std::vector<std::string> scripts = distinctScripts(options.files);
    std::vector<PlannedOutput> outputs;
    for (const std::string& script : scripts)
        outputs.push_back({pagePathFor(script, settings.outputDirectory), "the page of " + script});
    std::vector<std::string> inputs = scripts;
    inputs.push_back(commandsPath);
    inputs.push_back(colorPath);
    if (auto problem = outputProblem(outputs, inputs)) {
        printToStdout(*problem + "\n");
        return 1;
    }
    if (!settings.outputDirectory.empty()) makeOutputDirectory(settings.outputDirectory);

    // Made after both files are read, so that a CLASS page's style sheet
    // carries the colours of "color.txt".
    Generator generator(settings.mode, settings.lineNumbers, settings.pageEncoding);
    Run run(settings, generator);
    bool allConverted = true;
    for (const std::string& file : scripts) {
        if (run.convert(file)) continue;
        allConverted = false;
        // A strict run stops at the first script that fails; a lenient one
        // goes on with the others.
        if (!settings.script.lenient) break;
    }
    return allConverted ? 0 : 1;
}

}  // namespace

std::string usageText() {
    int size = std::snprintf(nullptr, 0, usageFormat, versionMajor, versionMinor);
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), usageFormat, versionMajor, versionMinor);
    text.resize(static_cast<std::size_t>(size));
    return text;
}

std::string helpText() {
    return "Hibarune " + std::to_string(versionMajor) + "." + std::to_string(versionMinor) +
           ": NScripter scripts as syntax-highlighted HTML pages\n"
           "\n"
           "USAGE:\n"
           "  hibarune [option...] file...\n"
           "  hibarune -html5 [option...] -o DIR GAME_FOLDER\n"
           "  hibarune -check [option...] file... | GAME_FOLDER\n"
           "\n"
           "Each script a.txt gives the page a.txt.html beside it; options apply to every file.\n"
           "A page never replaces a script or another page of the run.\n"
           "\n"
           "OPTIONS:\n"
           "  -lineno     put the line number in front of every line\n"
           "  -class      HTML page whose spans have class attributes, with a style sheet\n"
           "  -text       plain text page, for a text editor or less, not a browser\n"
           "  -html5      pages in UTF-8 that show the script as the engine reads it: text,\n"
           "              commands, links for labels, references, user commands, aliases\n"
           "              and jumps; the scripts of a run, or a game folder, are one game\n"
           "  -index      with -html5: also write index.html, the front page of the run\n"
           "  -split N    with -html5: a page per N lines or so (default 20000; 0: never)\n"
           "  -lang TAG   with -html5: the pages' language (default: from the text)\n"
           "  -engine E   the engine whose rules apply: nscripter, onscripter,\n"
           "              onscripter-en (default), ponscripter, onscripter-ru, onscripter-jh\n"
           "  -enc E      read every script as cp932, utf8 or gbk (default: by its kind)\n"
           "  -check      write no page: report what the engine would not run as meant\n"
           "              (-check=ID,... only these; -no-check=ID; -check-format=json|sarif)\n"
           "  -lenient    convert lines the tokenizer rejects (each place is a warning on\n"
           "              standard error) and go on past scripts that cannot be converted\n"
           "  -utf8       read scripts as UTF-8 and write pages in UTF-8\n"
           "  -o DIR      write the pages (and index.html) into the folder DIR, made when\n"
           "              missing, each named after its script's file name\n"
           "  -h, -help, --help\n"
           "              print this help\n"
           "  --version   print the program's name and version\n"
           "  --          every later argument is a file name, even one starting with \"-\"\n"
           "Other options are ignored, with a warning.\n"
           "\n"
           "FILES:\n"
           "  commands.txt  the reserved commands, beside the program or in\n"
           "                ../share/hibarune/ beside its directory\n"
           "  color.txt     colours of token types, NAME=colour per line, in the current\n"
           "                directory (optional)\n"
           "\n"
           "Exit status: 0 when every page was written, 1 after an error. With -check: 0\n"
           "without errors, 1 with one, 2 when a file could not be read.\n";
}

std::string versionText() {
    return "Hibarune " + std::to_string(versionMajor) + "." + std::to_string(versionMinor) + "\n";
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

std::string pagePathFor(const std::string& script, const std::string& outputDirectory) {
    if (outputDirectory.empty()) return script + ".html";
    return joinPath(outputDirectory, std::filesystem::path(script).filename().string() + ".html");
}

std::string indexPathFor(const std::string& outputDirectory) {
    return outputDirectory.empty() ? std::string("index.html") : joinPath(outputDirectory, "index.html");
}

std::string commandsPathFor(const std::string& directory) {
    std::string beside = joinPath(directory, commandsFileName);
    if (nscr::pathExists(beside)) return beside;
    std::string installed = joinPath(joinPath(directory, "../share/hibarune"), commandsFileName);
    if (nscr::pathExists(installed)) return installed;
    return beside;
}

// ---- Warnings and line errors ---------------------------------------------

void WarningLog::add(std::size_t line, std::size_t column, std::string_view message) {
    ++total_;
    if (!full()) shown_.push_back({line, column, std::string(message)});
}

void WarningLog::append(const WarningLog& part, std::size_t firstLine) {
    for (const Warning& warning : part.shown_) {
        if (full()) break;
        shown_.push_back({firstLine + warning.line, warning.column, warning.message});
    }
    total_ += part.total_;
}

ScriptLineError::ScriptLineError(std::size_t index, std::size_t column, std::string_view message)
    : ScriptPlaceError(nscr::lineErrorMessage(index, message), index, column, message) {}

ScriptDecodeError::ScriptDecodeError(std::size_t index, std::size_t column, std::string_view message)
    : ScriptPlaceError(conversionErrorMessage(), index, column, message) {}

namespace {

// A line that does not tokenize, within its part.
struct LineFault {
    std::size_t index = 0;
    std::size_t column = 0;
    std::string message;
};

// What went wrong in one part of a script, and what it warns of, kept until
// every part is done.
struct PartOutcome {
    std::optional<LineFault> decodeFault;  // a line that does not decode stops its part at once
    std::exception_ptr failure;  // so does any other failure
    std::optional<LineFault> tokenError;  // the first line that does not tokenize
    std::optional<nscr::Error> pageError;  // the first line that the page cannot take
    WarningLog warnings;
};

// Hears the places a lenient tokenizer recovers from, for the line at hand.
class WarningRecorder : public nscr::TokenFaultSink {
public:
    explicit WarningRecorder(WarningLog& log) : log_(log) {}
    void startLine(std::size_t index, const DecodedLine& line) {
        index_ = index;
        line_ = &line;
    }
    void recovered(const nscr::TokenFault& fault) override {
        // Only the warnings shown need their column told.
        std::size_t column = log_.full() ? fault.column : scriptColumn(*line_, fault.column);
        log_.add(index_, column, fault.message);
    }

private:
    WarningLog& log_;
    std::size_t index_ = 0;
    const DecodedLine* line_ = nullptr;
};

// Tokens are cut and written this many at a time: any ordinary line in one
// go, while a line of millions of tokens never has them all in memory.
constexpr std::size_t tokenBatch = 1u << 14;

// Writes a batch of a line's tokens, moving offset past their bytes; false,
// with the error kept in outcome, when the page cannot take them.
[[gnu::always_inline]] inline bool addBatch(Page& page, const DecodedLine& line, const nscr::TokenLine& tokens, std::size_t& offset,
              PartOutcome& outcome) {
    try {
        offset += page.addLineTokens(tokens, line.pageBytes.substr(offset), line.pageBytesEncoding);
        return true;
    } catch (const nscr::Error& error) {
        outcome.pageError = error;
        return false;
    }
}

// The lines of one part, tokenized strictly, or leniently when a recorder
// is given.
struct PartWork {
    Page& page;
    PartOutcome& outcome;
    WarningRecorder* lenient;
    nscr::TokenLine tokens;
    Cp932Decoder& decoder;
    TextEncoding scriptEncoding;
    std::string repaired;  // a line read leniently past bytes that do not decode
};

// "not valid CP932 (bytes 82 FF)".
std::string notValidMessage(std::string_view bytes, TextEncoding encoding) {
    return input::notValidText(bytes, encoding == TextEncoding::UTF8 ? input::Encoding::UTF8 : input::Encoding::CP932);
}

// The lenient reading of a line with bytes that do not decode: on a UTF-8
// page each such run shows as U+FFFD; a CP932 page keeps the script's bytes,
// read through a shadow (see Cp932Decoder::shadowTo) in which they, all
// 0x80 and above, stand as they are.
DecodedLine repairedLine(std::string_view raw, const std::vector<InvalidBytes>& bad, PartWork& work) {
    std::string& out = work.repaired;
    out.clear();
    bool cp932 = work.scriptEncoding == TextEncoding::CP932;
    if (cp932 && work.page.encoding() == TextEncoding::CP932) {
        auto run = bad.begin();
        for (std::size_t at = 0; at < raw.size(); ++at) {
            out += raw[at];
            while (run != bad.end() && run->offset + run->length <= at) ++run;
            bool inBadRun = run != bad.end() && at >= run->offset;
            if (!inBadRun && isCp932LeadByte(static_cast<unsigned char>(raw[at])) && at + 1 < raw.size())
                out += static_cast<char>(raw[++at] | 0x80);
        }
        return {out, raw, TextEncoding::CP932, {}};
    }
    std::size_t from = 0;
    for (const InvalidBytes& run : bad) {
        std::string_view good = raw.substr(from, run.offset - from);
        if (cp932) work.decoder.appendUtf8(out, good);
        else out += good;
        out += "\xEF\xBF\xBD";
        from = run.offset + run.length;
    }
    if (cp932) work.decoder.appendUtf8(out, raw.substr(from));
    else out += raw.substr(from);
    return {out, out, TextEncoding::UTF8, cp932 ? raw : std::string_view()};
}

// The line at `at` when the reader found bytes in it that do not decode:
// strictly, the place is kept as the part's fault and the part stops (a
// line of nothing is given); leniently, each run is warned of and the line
// read past them. Raises the reader's error when no such bytes are found.
NextLine badLine(const char* at, const char* last, std::size_t index, PartWork& work) {
    const char* end = nscr::findLineEnd(at, last);
    std::string_view raw(at, static_cast<std::size_t>(end - at));
    raw = raw.substr(0, raw.find('\0'));
    std::vector<InvalidBytes> bad = work.scriptEncoding == TextEncoding::UTF8 ? invalidUtf8Bytes(raw)
                                                                               : work.decoder.invalidBytes(raw);
    if (bad.empty()) throw;
    if (work.lenient == nullptr) {
        const InvalidBytes& first = bad.front();
        work.outcome.decodeFault =
            LineFault{index, first.offset, notValidMessage(raw.substr(first.offset, first.length), work.scriptEncoding)};
        return {{}, end};
    }
    std::string_view shown = work.page.encoding() == TextEncoding::UTF8 ? "; shown as U+FFFD" : "; kept on the page";
    for (const InvalidBytes& run : bad)
        work.outcome.warnings.add(index, run.offset,
                                  notValidMessage(raw.substr(run.offset, run.length), work.scriptEncoding) +
                                      std::string(shown));
    return {repairedLine(raw, bad, work), end};
}

// Tokenizes one line and writes it onto the page batch by batch, unless an
// earlier line failed. After an error the page is never used, so what a
// failing line wrote stays.
[[gnu::always_inline]] inline void convertLine(const DecodedLine& line, std::size_t index, std::int64_t number, PartWork& work) {
    PartOutcome& outcome = work.outcome;
    bool writing = !outcome.pageError;
    if (writing) work.page.startLine(number);
    if (work.lenient != nullptr) work.lenient->startLine(index, line);
    nscr::TokenCutter cutter(line.tokenizerText, work.lenient);
    std::size_t offset = 0;
    try {
        while (cutter.cutNext(work.tokens, tokenBatch))
            writing = writing && addBatch(work.page, line, work.tokens, offset, outcome);
    } catch (const nscr::TokenError& error) {
        outcome.tokenError = LineFault{index, scriptColumn(line, error.column()), std::string(error.message())};
        return;
    }
    if (writing) work.page.endLine();
}

// Converts the lines of text onto the page, numbering them from
// firstNumber. A line that does not decode raises its error at once; the
// first tokenizer and page errors are kept in the outcome, and after a
// tokenizer error the lines are only decoded.
template <typename LineReader>
void convertLines(std::string_view text, std::int64_t firstNumber, LineReader& reader, PartWork& work) {
    const char* at = text.data();
    const char* const last = at + text.size();
    // Lines are cut as forEachLine cuts them: a line end at the very end of
    // the text starts no other line.
    for (std::size_t index = 0; at != last; ++index) {
        NextLine line;
        try {
            line = reader.next(at, last);
        } catch (const nscr::Error&) {
            line = badLine(at, last, index, work);
            if (work.outcome.decodeFault) return;
        }
        if (!work.outcome.tokenError)
            convertLine(line.decoded, index, firstNumber + static_cast<std::int64_t>(index), work);
        if (line.end == last) break;
        at = pastLineEnd(line.end, last);
    }
}

void convertPart(std::string_view text, std::int64_t firstNumber, const ScriptSettings& settings,
                 Cp932Decoder& decoder, Page& page, PartOutcome& outcome) noexcept {
    try {
        WarningRecorder recorder(outcome.warnings);
        PartWork work{page, outcome, settings.lenient ? &recorder : nullptr, {}, decoder, settings.encoding, {}};
        if (settings.encoding == TextEncoding::UTF8) {
            Utf8LineReader reader;
            convertLines(text, firstNumber, reader, work);
        } else if (page.encoding() == TextEncoding::UTF8) {
            Cp932ToUtf8LineReader reader(decoder);
            convertLines(text, firstNumber, reader, work);
        } else {
            Cp932LineReader reader(decoder);
            convertLines(text, firstNumber, reader, work);
        }
    } catch (...) {
        outcome.failure = std::current_exception();
    }
}

// The lines of the script before this piece of it.
std::size_t linesBefore(std::string_view script, std::string_view piece) {
    return nscr::countLines(script.substr(0, static_cast<std::size_t>(piece.data() - script.data())));
}

// What to try when a script does not decode: a CP932 script that is UTF-8
// text throughout is most likely meant to be read as UTF-8.
std::string decodingHint(std::string_view script, TextEncoding encoding) {
    if (encoding != TextEncoding::CP932) return {};
    try {
        checkUtf8(script);
    } catch (const nscr::Error&) {
        return {};
    }
    return "; the file looks like UTF-8: try -utf8";
}

// Raises what a run over the lines one after another would: a line that
// does not decode stops it at once, wherever that line is; then the first
// tokenizer error, named by its line's index in the script; then the first
// page error.
void raiseFirstError(std::string_view script, const std::vector<std::string_view>& pieces,
                     const std::vector<PartOutcome>& outcomes, TextEncoding encoding) {
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        if (const auto& fault = outcomes[k].decodeFault)
            throw ScriptDecodeError(linesBefore(script, pieces[k]) + fault->index, fault->column,
                                    fault->message + decodingHint(script, encoding));
        if (outcomes[k].failure) std::rethrow_exception(outcomes[k].failure);
    }
    for (std::size_t k = 0; k < outcomes.size(); ++k)
        if (const auto& error = outcomes[k].tokenError)
            throw ScriptLineError(linesBefore(script, pieces[k]) + error->index, error->column, error->message);
    for (const PartOutcome& outcome : outcomes)
        if (outcome.pageError) throw *outcome.pageError;
}

// The warnings of all parts, their lines counted in the whole script.
WarningLog gatherWarnings(std::string_view script, const std::vector<std::string_view>& pieces,
                          const std::vector<PartOutcome>& outcomes) {
    WarningLog all;
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        const WarningLog& part = outcomes[k].warnings;
        if (part.total() == 0) continue;
        // Counting the lines before a part is only worth it for warnings shown.
        std::size_t firstLine = all.full() || k == 0 ? 0 : linesBefore(script, pieces[k]);
        all.append(part, firstLine);
    }
    return all;
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
    return std::max<std::size_t>(1, std::min({nscr::processorCount(), mostParts, scriptSize / smallestPart}));
}

}  // namespace

ConvertedScript convertScript(std::string_view script, const Generator& generator, const ScriptSettings& settings,
                              Cp932Decoder& decoder, std::size_t partCount) {
    script = withoutByteOrderMark(script, settings.encoding);
    if (partCount == 0) partCount = partCountFor(script.size());
    std::vector<std::string_view> pieces = splitAtLines(script, partCount);
    std::vector<Page> pages;
    pages.reserve(pieces.size());
    pages.push_back(generator.startPage(expectedPageSize(script.size(), generator.outputMode())));
    for (std::size_t k = 1; k < pieces.size(); ++k)
        pages.push_back(generator.startPart(expectedPageSize(pieces[k].size(), generator.outputMode())));
    std::vector<PartOutcome> outcomes(pieces.size());

    // A part's first line number is only needed when the page numbers its
    // lines; errors and warnings are numbered once all parts are done.
    auto firstNumber = [&](std::size_t k) -> std::int64_t {
        if (k == 0 || !generator.showsLineNumbers()) return 1;
        return static_cast<std::int64_t>(linesBefore(script, pieces[k])) + 1;
    };
    // Each part has a decoder of its own, the first the run's.
    nscr::runSideBySide(pieces.size(), [&](std::size_t k) {
        if (k == 0) return convertPart(pieces[0], firstNumber(0), settings, decoder, pages[0], outcomes[0]);
        Cp932Decoder ownDecoder;
        convertPart(pieces[k], firstNumber(k), settings, ownDecoder, pages[k], outcomes[k]);
    });

    raiseFirstError(script, pieces, outcomes, settings.encoding);
    for (std::size_t k = 1; k < pages.size(); ++k) pages[0].appendPart(pages[k]);
    return {std::move(pages[0]), gatherWarnings(script, pieces, outcomes)};
}

Page convertToPage(std::string_view script, const Generator& generator, Cp932Decoder& decoder,
                   std::size_t partCount) {
    return convertScript(script, generator, ScriptSettings{}, decoder, std::max<std::size_t>(partCount, 1)).page;
}

Page convertToPage(std::string_view script, const Generator& generator, Cp932Decoder& decoder) {
    return convertScript(script, generator, ScriptSettings{}, decoder).page;
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
        return convertAll(arguments);
    } catch (const std::bad_alloc&) {
        printToStdout(std::string(std::strerror(ENOMEM)) + "\n");
    } catch (const std::exception& error) {
        printToStdout(std::string(error.what()) + "\n");
    }
    return 1;
}
