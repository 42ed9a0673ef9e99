#include "cli/reading_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "analysis/model.h"
#include "input/encoding_check.h"
#include "input/game_loader.h"
#include "nscr/error.h"
#include "nscr/file.h"
#include "nscr/parallel.h"
#include "nscr/token.h"
#include "write/html5/front_page.h"
#include "write/html5/reading_page.h"

namespace {

void printError(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

bool isDirectory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The value of a "-name VALUE" or "-name=VALUE" option, or empty.
std::string optionValue(const OptionList& options, std::string_view name) {
    std::string prefix = std::string(name) + "=";
    for (const auto& [option, present] : options.options)
        if (option.rfind(prefix, 0) == 0) return option.substr(prefix.size());
    return {};
}

std::optional<input::Encoding> forcedEncoding(const OptionList& options) {
    std::string name = optionValue(options, "enc");
    if (name == "utf8" || name == "utf-8" || options.hasOption("utf8")) return input::Encoding::UTF8;
    if (name == "cp932" || name == "sjis") return input::Encoding::CP932;
    if (name == "gbk") return input::Encoding::GBK;
    return std::nullopt;
}

struct RunInput {
    std::vector<input::SourceFile> files;
    std::vector<input::SkippedFile> notRead;
    std::string gameName;   // the folder's name in game mode
    std::string gameFolder;
    bool failed = false;
};

// One script given by name: its encoding forced, or CP932.
bool readScript(const std::string& path, std::optional<input::Encoding> forced, RunInput& run) {
    input::SourceFile file;
    file.path = path;
    file.name = std::filesystem::path(path).filename().string();
    file.encoding = forced.value_or(input::Encoding::CP932);
    try {
        file.bytes = nscr::readWholeFile(path);
    } catch (const nscr::Error& error) {
        printError(error.what());
        return false;
    }
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (file.encoding == input::Encoding::UTF8 && std::string_view(file.bytes).starts_with(bom)) file.bytes.erase(0, bom.size());
    run.files.push_back(std::move(file));
    return true;
}

// Bytes not valid in a script's encoding are an error, or with -lenient a
// warning (the page shows U+FFFD for them); the message names the first
// and the encoding the bytes look like.
std::vector<std::string> encodingMessages(const std::vector<input::SourceFile>& files, bool lenient) {
    std::vector<std::string> messages;
    for (const input::SourceFile& file : files) {
        auto bad = input::validate(file.bytes, file.encoding);
        if (!bad) continue;
        std::string message = file.path + ":" + std::to_string(bad->line) + ":" + std::to_string(bad->column) + ": " +
                              (lenient ? "warning" : "error") + ": not valid " +
                              std::string(input::encodingName(file.encoding));
        if (auto guess = input::guessEncoding(file.bytes); guess && *guess != file.encoding)
            message += "; the file looks like " + std::string(input::encodingName(*guess)) +
                       (*guess == input::Encoding::UTF8 ? ": try -utf8" : ": try -enc gbk");
        messages.push_back(std::move(message));
    }
    return messages;
}

bool readGame(const std::string& folder, const OptionList& options, RunInput& run) {
    input::Engine engine = input::defaultEngine;
    if (std::string name = optionValue(options, "engine"); !name.empty()) {
        auto named = input::engineNamed(name);
        if (!named) {
            printError("unknown engine " + name + " (nscripter, onscripter, onscripter-en, ponscripter, onscripter-ru, onscripter-jh)");
            return false;
        }
        engine = *named;
    }
    input::GameLoad game = input::loadGame(folder, engine, forcedEncoding(options));
    for (const input::Diagnostic& diagnostic : game.diagnostics) printError(input::formatDiagnostic(diagnostic));
    for (const input::SkippedFile& skipped : game.notRead)
        printError(skipped.path + ": warning: not read by the engine: " + skipped.reason);
    if (game.files.empty() || (game.hasErrors() && !options.hasOption("lenient"))) return false;
    run.files = std::move(game.files);
    run.notRead = std::move(game.notRead);
    std::string name = std::filesystem::path(folder).lexically_normal().filename().string();
    if (name.empty()) name = std::filesystem::path(folder).lexically_normal().parent_path().filename().string();
    run.gameName = name;
    run.gameFolder = folder;
    return true;
}

std::string outputFolder(const OptionList& options) { return optionValue(options, "o"); }

// Where the page of a file goes: into the output folder when one is given,
// else beside its script.
std::string pagePathOf(const input::SourceFile& file, const std::string& folder) {
    if (!folder.empty()) return (std::filesystem::path(folder) / (file.name + ".html")).string();
    return file.path + ".html";
}

std::size_t splitLines(const OptionList& options, bool& valid) {
    valid = true;
    std::string value = optionValue(options, "split");
    if (value.empty()) return writers::html5::defaultSplitLines;
    std::size_t lines = 0;
    for (char c : value) {
        if (c < '0' || c > '9' || lines > 100000000) {
            valid = false;
            return 0;
        }
        lines = lines * 10 + static_cast<std::size_t>(c - '0');
    }
    if (lines > 0 && lines < 100) valid = false;
    return lines;
}

void reportFindings(const analysis::Model& model, bool lenient) {
    if (!lenient) return;
    for (const analysis::Finding& finding : model.findings)
        printError(model.files[finding.pos.file].path + ":" + std::to_string(finding.pos.line + 1) + ":" +
                   std::to_string(finding.pos.column + 1) + ": warning: " + finding.message);
}

// Every part's page, on every processor: the model is only read.
void writePages(const analysis::Model& model, const writers::html5::PageLayout& layout,
                const writers::html5::ReadingOptions& reading) {
    std::atomic<std::size_t> next{0};
    std::size_t workers = std::min(nscr::processorCount(), layout.parts().size());
    nscr::runSideBySide(workers, [&](std::size_t) {
        for (std::size_t part; (part = next++) < layout.parts().size();)
            nscr::writeWholeFile(layout.parts()[part].path, writers::html5::readingPage(model, layout, part, reading));
    });
}

}  // namespace

int runReadingPages(const OptionList& options) {
    bool lenient = options.hasOption("lenient");
    bool splitValid = true;
    std::size_t split = splitLines(options, splitValid);
    if (!splitValid) {
        printError("-split takes a number of lines: 0 (never split), or 100 or more");
        return 1;
    }
    RunInput run;
    bool allRead = true;
    for (const std::string& argument : options.files) {
        if (isDirectory(argument)) {
            if (!run.gameFolder.empty() || !run.files.empty()) {
                printError(argument + ": one game a run: give a game folder alone");
                return 1;
            }
            if (!readGame(argument, options, run)) return 1;
            continue;
        }
        if (!run.gameFolder.empty()) {
            printError(argument + ": one game a run: give a game folder alone");
            return 1;
        }
        if (!readScript(argument, forcedEncoding(options), run)) {
            allRead = false;
            if (!lenient) return 1;
        }
    }
    if (run.files.empty()) return 1;
    try {
        // The encodings are checked while the model is built.
        std::vector<std::string> badEncodings;
        analysis::Model model = analysis::analyze(
            std::move(run.files), analysis::commandSetFrom(nscr::reservedCommands),
            [&](const std::vector<input::SourceFile>& files) { badEncodings = encodingMessages(files, lenient); });
        for (const std::string& message : badEncodings) printError(message);
        if (!badEncodings.empty() && !lenient) return 1;
        reportFindings(model, lenient);
        std::string folder = outputFolder(options);
        if (!folder.empty()) std::filesystem::create_directories(folder);
        std::vector<std::string> pagePaths;
        for (const input::SourceFile& file : model.files) pagePaths.push_back(pagePathOf(file, folder));
        writers::html5::PageLayout layout(model, pagePaths, split);
        bool frontPage = !run.gameFolder.empty() || options.hasOption("index");
        writers::html5::ReadingOptions reading;
        reading.lineNumbers = options.hasOption("lineno");
        reading.lang = optionValue(options, "lang");
        if (frontPage) {
            reading.frontPagePath = folder.empty() ? std::string("index.html") : (std::filesystem::path(folder) / "index.html").string();
            reading.frontPageTitle = run.gameName.empty() ? "Index" : run.gameName;
        }
        writePages(model, layout, reading);
        if (frontPage) {
            writers::html5::FrontPage front{reading.frontPageTitle, run.notRead};
            nscr::writeWholeFile(reading.frontPagePath, writers::html5::frontPage(model, layout, front, reading.frontPagePath));
        }
    } catch (const std::bad_alloc&) {
        printError(std::strerror(ENOMEM));
        return 1;
    } catch (const std::exception& error) {
        printError(error.what());
        return 1;
    }
    return allRead ? 0 : 1;
}
