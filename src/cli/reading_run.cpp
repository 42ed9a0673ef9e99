#include "cli/reading_run.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "analysis/model.h"
#include "check/checks.h"
#include "check/report.h"
#include "cli/check_command.h"
#include "cli/output_plan.h"
#include "cli/run_input.h"
#include "converter.h"
#include "input/engine_profile.h"
#include "nscr/error.h"
#include "nscr/file.h"
#include "nscr/parallel.h"
#include "nscr/token.h"
#include "write/html5/front_page.h"
#include "write/html5/reading_page.h"

namespace {

void printError(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// The front page: index.html in the output folder; without one, in a
// game's folder, or here for -index.
std::string frontPagePath(const std::string& outputDirectory, const RunInput& run) {
    if (outputDirectory.empty() && !run.gameFolder.empty()) return (std::filesystem::path(run.gameFolder) / "index.html").string();
    return indexPathFor(outputDirectory);
}

// Why the pages must not be written, or none (see outputProblem).
std::optional<std::string> pagesProblem(const writers::html5::PageLayout& layout, const std::string& frontPage,
                                        const analysis::Model& model, const RunInput& run,
                                        const std::vector<std::string>& configurationFiles) {
    std::vector<PlannedOutput> outputs;
    for (const writers::html5::PagePart& part : layout.parts())
        outputs.push_back({part.path, "the page of " + model.files[part.file].path});
    if (!frontPage.empty()) outputs.push_back({frontPage, "the index"});
    std::vector<std::string> inputs = configurationFiles;
    for (const input::SourceFile& file : model.files) inputs.push_back(file.path);
    for (const input::SkippedFile& skipped : run.notRead) inputs.push_back(skipped.path);
    return outputProblem(outputs, inputs);
}

// -split N: 0 never splits; a number of lines below 100 or no number is an error.
std::optional<std::size_t> splitLines(const OptionList& options) {
    std::string value = optionValue(options, "split");
    if (value.empty()) return writers::html5::defaultSplitLines;
    std::size_t lines = 0;
    for (char c : value) {
        if (c < '0' || c > '9' || lines > 100000000) return std::nullopt;
        lines = lines * 10 + static_cast<std::size_t>(c - '0');
    }
    if (lines > 0 && lines < 100) return std::nullopt;
    return lines;
}

// The checks' findings, in script order, for the page's marks; with
// -lenient, also warnings on standard error, twenty a file at most.
std::vector<analysis::Finding> findingsOf(const analysis::Model& model, const RunInput& run,
                                          const check::CheckSelection& selection, bool lenient) {
    analysis::CommandSet commands = analysis::commandSetFrom(nscr::reservedCommands);
    check::CollectingSink sink;
    // Without -engine, the messages tell every engine's way.
    check::runChecks(model, commands, selection, run.engineChosen ? run.engine : input::Engine::NScripter, sink);
    check::Diagnostics diagnostics = std::move(sink).sorted();
    std::vector<analysis::Finding> findings;
    findings.reserve(diagnostics.size());
    std::vector<std::size_t> shown(model.files.size());
    std::string warnings;
    for (const check::Diagnostic& diagnostic : diagnostics) {
        std::uint32_t file = std::min<std::uint32_t>(diagnostic.where.fileOrder, static_cast<std::uint32_t>(model.files.size() - 1));
        if (lenient && shown[file]++ < 20) warnings += check::textLine(diagnostic);
        // A finding about a file the engine does not read has no place on a page.
        if (diagnostic.where.file != model.files[file].path) continue;
        findings.push_back({{file, diagnostic.where.line - 1, diagnostic.where.column - 1},
                            std::string(check::infoOf(diagnostic.check).name), diagnostic.message});
    }
    for (std::uint32_t file = 0; file < shown.size(); ++file)
        if (lenient && shown[file] > 20)
            warnings += model.files[file].path + ": " + std::to_string(shown[file] - 20) + " more warnings not shown\n";
    std::fputs(warnings.c_str(), stderr);
    return findings;
}

// The language of each file's text, on every processor: a file of many
// parts has one.
std::vector<std::string> languagesOf(const analysis::Model& model) {
    std::vector<std::string> languages(model.files.size());
    std::atomic<std::uint32_t> next{0};
    nscr::runSideBySide(std::min(nscr::processorCount(), model.files.size()), [&](std::size_t) {
        for (std::uint32_t file; (file = next++) < model.files.size();)
            languages[file] = writers::html5::languageOf(model, file);
    });
    return languages;
}

// Every part's page, on every processor: the model is only read. The
// front page, when there is one, is made among them (first, as it takes
// longest) and kept to be written last.
nscr::ByteBuffer writePages(const analysis::Model& model, const writers::html5::PageLayout& layout,
                            const writers::html5::ReadingOptions& reading, const writers::html5::FrontPage* front) {
    nscr::ByteBuffer frontPage;
    std::size_t first = front != nullptr ? 0 : 1;
    std::size_t tasks = layout.parts().size() + 1;
    std::atomic<std::size_t> next{first};
    std::size_t workers = std::min(nscr::processorCount(), tasks - first);
    nscr::runSideBySide(workers, [&](std::size_t) {
        nscr::ByteBuffer page;
        for (std::size_t task; (task = next++) < tasks;) {
            if (task == 0) {
                writers::html5::writeFrontPage(model, layout, *front, reading.frontPagePath, frontPage);
                continue;
            }
            std::size_t part = task - 1;
            nscr::writeWholeFile(layout.parts()[part].path, writers::html5::writeReadingPage(model, layout, part, reading, page));
        }
    });
    return frontPage;
}

}  // namespace

int runReadingPages(const OptionList& options, const std::string& outputDirectory,
                    const std::vector<std::string>& configurationFiles) {
    bool lenient = options.hasOption("lenient");
    std::optional<std::size_t> split = splitLines(options);
    if (!split) {
        printError("-split takes a number of lines: 0 (never split), or 100 or more");
        return 1;
    }
    std::optional<check::CheckSelection> checks = checkSelectionOf(options);
    if (!checks) return 1;
    RunInput run = readRunInput(options);
    if (run.unusable || run.files.empty() || (run.unreadable && !lenient)) return 1;
    try {
        // Scripts named one by one are checked for their encoding while the
        // model is built (the game loader checks a folder's).
        analysis::Model model = analysis::analyze(std::move(run.files), analysis::commandSetFrom(nscr::reservedCommands),
                                                  run.gameFolder.empty());
        std::vector<std::string> badEncodings = encodingMessages(model, lenient);
        for (const std::string& message : badEncodings) printError(message);
        if (!badEncodings.empty() && !lenient) return 1;
        // The checks mark the pages when asked for (-check), and are the
        // warnings of a lenient run.
        std::vector<analysis::Finding> findings;
        if (lenient || wantsCheckCommand(options)) findings = findingsOf(model, run, *checks, lenient);

        std::vector<std::string> pagePaths;
        for (const input::SourceFile& file : model.files) pagePaths.push_back(pagePathFor(file.path, outputDirectory));
        writers::html5::PageLayout layout(model, pagePaths, *split);
        bool frontPage = !run.gameFolder.empty() || options.hasOption("index");
        std::string front = frontPage ? frontPagePath(outputDirectory, run) : std::string();
        // Nothing is written when one page would replace an input or another page.
        if (auto problem = pagesProblem(layout, front, model, run, configurationFiles)) {
            std::printf("%s\n", problem->c_str());
            return 1;
        }
        if (!outputDirectory.empty()) makeOutputDirectory(outputDirectory);
        const input::EngineProfile& profile = input::profileOf(run.engine);
        writers::html5::ReadingOptions reading;
        reading.lineNumbers = options.hasOption("lineno");
        reading.lang = optionValue(options, "lang");
        reading.labelRule = profile.labels == input::DuplicateRule::Last ? input::DuplicateRule::Last : input::DuplicateRule::First;
        reading.aliasRule = profile.aliases == input::DuplicateRule::Last ? input::DuplicateRule::Last : input::DuplicateRule::First;
        reading.findings = &findings;
        std::vector<std::string> languages;
        if (reading.lang.empty()) {
            languages = languagesOf(model);
            reading.languages = &languages;
        }
        if (frontPage) {
            reading.frontPagePath = front;
            reading.frontPageTitle = run.gameName.empty() ? "Index" : run.gameName;
        }
        writers::html5::FrontPage frontParts{reading.frontPageTitle, run.notRead, &findings};
        nscr::ByteBuffer frontHtml = writePages(model, layout, reading, frontPage ? &frontParts : nullptr);
        // The front page last: a run that fails before leaves the older one.
        if (frontPage) nscr::writeWholeFile(reading.frontPagePath, frontHtml.view());
    } catch (const std::bad_alloc&) {
        printError(std::strerror(ENOMEM));
        return 1;
    } catch (const std::exception& error) {
        printError(error.what());
        return 1;
    }
    return run.unreadable ? 1 : 0;
}
