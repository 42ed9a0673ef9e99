#include "cli/check_command.h"

#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

#include "analysis/command_set.h"
#include "analysis/model.h"
#include "check/checks.h"
#include "check/report.h"
#include "cli/run_input.h"
#include "nscr/error.h"
#include "nscr/file.h"
#include "nscr/token.h"

namespace {

constexpr int usageError = 2;
constexpr int unreadableInput = 2;

void printError(const std::string& text) { std::fputs(text.c_str(), stderr); }

// Every ID of "-check=a,b" style options, in order.
std::vector<std::string_view> idsOf(std::string_view list) {
    std::vector<std::string_view> ids;
    while (true) {
        std::size_t comma = list.find(',');
        std::string_view id = list.substr(0, comma);
        if (!id.empty()) ids.push_back(id);
        if (comma == std::string_view::npos) return ids;
        list.remove_prefix(comma + 1);
    }
}

struct CheckOptions {
    check::CheckSelection selection = check::CheckSelection::defaults();
    check::Format format = check::Format::Text;
};

// The selection and format the options ask for; nullopt after a usage
// error (reported).
std::optional<CheckOptions> checkOptionsOf(const OptionList& options) {
    CheckOptions result;
    std::vector<check::CheckId> only;
    std::vector<check::CheckId> off;
    for (const auto& [name, given] : options.options) {
        std::string_view option = name;
        std::vector<check::CheckId>* into = nullptr;
        if (option.starts_with("check=")) {
            into = &only;
            option.remove_prefix(6);
        } else if (option.starts_with("no-check=")) {
            into = &off;
            option.remove_prefix(9);
        } else if (option.starts_with("check-format=")) {
            option.remove_prefix(13);
            if (option == "text" || option == "gcc") {
                result.format = check::Format::Text;
            } else if (option == "json") {
                result.format = check::Format::Json;
            } else if (option == "sarif") {
                result.format = check::Format::Sarif;
            } else {
                printError("hibarune: unknown check format \"" + std::string(option) + "\" (text, json or sarif)\n");
                return std::nullopt;
            }
            continue;
        } else {
            continue;
        }
        std::vector<std::string_view> ids = idsOf(option);
        if (ids.empty()) {
            printError("hibarune: -" + name + " names no check\n");
            return std::nullopt;
        }
        for (std::string_view id : ids) {
            std::optional<check::CheckId> known = check::checkNamed(id);
            if (!known) {
                printError("hibarune: unknown check \"");
                printError(std::string(id) + "\"; the checks are:");
                for (const check::CheckInfo& info : check::checkTable) {
                    printError(" ");
                    printError(std::string(info.name));
                }
                printError("\n");
                return std::nullopt;
            }
            into->push_back(*known);
        }
    }
    if (!only.empty()) {
        result.selection = check::CheckSelection::none();
        for (check::CheckId id : only) result.selection.set(id, true);
    }
    for (check::CheckId id : off) result.selection.set(id, false);
    return result;
}

}  // namespace

std::optional<check::CheckSelection> checkSelectionOf(const OptionList& options) {
    std::optional<CheckOptions> chosen = checkOptionsOf(options);
    if (!chosen) return std::nullopt;
    return chosen->selection;
}

bool wantsCheckCommand(const OptionList& options) {
    if (options.hasOption("check")) return true;
    auto after = options.options.lower_bound(std::string_view("check="));
    return after != options.options.end() && after->first.starts_with("check=");
}

int runCheckCommand(const OptionList& options, const std::string& commandsPath) {
    std::optional<CheckOptions> chosen = checkOptionsOf(options);
    if (!chosen) return usageError;
    if (options.files.empty()) {
        printError("hibarune: -check needs one or more script files\n");
        return usageError;
    }
    nscr::loadReservedCommands(commandsPath);
    analysis::CommandSet commands = analysis::commandSetFrom(nscr::reservedCommands);

    // The files that can be read are checked as one game: a folder in the
    // engine's order, scripts in the order given. One cut short while it is
    // read could not be read.
    nscr::MappedFile::setExitStatusWhenCutShort(unreadableInput);
    RunInput run = readRunInput(options);
    if (run.unusable) return usageError;
    bool unreadable = run.unreadable;
    bool badBytes = false;  // bytes not valid in their encoding: an error
    std::size_t fileCount = run.files.size();
    check::CollectingSink sink;
    // Without -engine, the messages tell every engine's way.
    input::Engine engine = run.engineChosen ? run.engine : input::Engine::NScripter;
    for (const input::SkippedFile& skipped : run.notRead)
        check::reportFileDiagnostic(sink, chosen->selection, check::CheckId::FileShadowed, skipped.path, 0,
                                    "not read by the engine: " + skipped.reason);
    if (!run.files.empty()) {
        bool lenient = options.hasOption("lenient");
        analysis::Model model = analysis::analyze(std::move(run.files), commands, run.gameFolder.empty(),
                                                  analysis::TextDetail::AliasesOnly);
        std::vector<std::string> badEncodings = encodingMessages(model, lenient);
        for (const std::string& message : badEncodings) printError(message + "\n");
        badBytes = !badEncodings.empty() && !lenient;
        check::runChecks(model, commands, chosen->selection, engine, sink);
    }
    check::Diagnostics diagnostics = std::move(sink).sorted();
    check::writeDiagnostics(stdout, chosen->format, diagnostics);
    printError(check::summaryLine(diagnostics, fileCount));
    if (unreadable) return unreadableInput;
    if (badBytes) return 1;
    for (const check::Diagnostic& diagnostic : diagnostics)
        if (diagnostic.severity == check::Severity::Error) return 1;
    return 0;
}
