#include "cli/run_input.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "input/encoding_check.h"
#include "input/engine_profile.h"
#include "nscr/error.h"
#include "nscr/file.h"

namespace {

void printError(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

bool isDirectory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// One script given by name: its encoding forced, or CP932.
void readScript(const std::string& path, std::optional<input::Encoding> forced, RunInput& run) {
    input::SourceFile file;
    file.path = path;
    file.name = std::filesystem::path(path).filename().string();
    file.encoding = forced.value_or(input::Encoding::CP932);
    try {
        file.bytes = input::readScriptBytes(path);
    } catch (const nscr::Error& error) {
        // The message names the file already: "a.txt: Permission denied".
        std::string what = error.what();
        if (what.rfind(path + ": ", 0) == 0) what.erase(0, path.size() + 2);
        printError(path + ": error: cannot be read: " + what);
        run.unreadable = true;
        return;
    }
    // A byte order mark stays where the engine keeps it: before a label, it
    // hides the label.
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (file.encoding == input::Encoding::UTF8 && input::profileOf(run.engine).stripsBom &&
        std::string_view(file.bytes).starts_with(bom))
        file.bytes.removePrefix(bom.size());
    run.files.push_back(std::move(file));
}

void readGame(const std::string& folder, const OptionList& options, RunInput& run) {
    input::GameLoad game = input::loadGame(folder, run.engine, forcedEncoding(options));
    for (const input::Diagnostic& diagnostic : game.diagnostics) printError(input::formatDiagnostic(diagnostic));
    for (const input::SkippedFile& skipped : game.notRead)
        printError(skipped.path + ": warning: not read by the engine: " + skipped.reason);
    if (game.files.empty() || game.hasErrors()) run.unreadable = true;
    run.files = std::move(game.files);
    run.notRead = std::move(game.notRead);
    std::filesystem::path normal = std::filesystem::path(folder).lexically_normal();
    std::string name = normal.filename().string();
    if (name.empty() || name == ".") name = std::filesystem::absolute(normal).lexically_normal().parent_path().filename().string();
    if (name.empty()) name = normal.parent_path().filename().string();
    run.gameName = name;
    run.gameFolder = folder;
}

}  // namespace

std::string optionValue(const OptionList& options, std::string_view name) { return options.value(name).value_or(""); }

std::optional<input::Encoding> forcedEncoding(const OptionList& options) {
    std::string name = optionValue(options, "enc");
    if (name == "utf8" || name == "utf-8" || options.hasOption("utf8")) return input::Encoding::UTF8;
    if (name == "cp932" || name == "sjis") return input::Encoding::CP932;
    if (name == "gbk") return input::Encoding::GBK;
    return std::nullopt;
}

RunInput readRunInput(const OptionList& options) {
    RunInput run;
    if (std::string name = optionValue(options, "engine"); !name.empty()) {
        auto named = input::engineNamed(name);
        if (!named) {
            printError("unknown engine " + name +
                       " (nscripter, onscripter, onscripter-en, ponscripter, onscripter-ru, onscripter-jh)");
            run.unusable = true;
            return run;
        }
        run.engine = *named;
        run.engineChosen = true;
    }
    std::string encoding = optionValue(options, "enc");
    if (!encoding.empty() && !forcedEncoding(options)) {
        printError("unknown encoding " + encoding + " (cp932, utf8, gbk)");
        run.unusable = true;
        return run;
    }
    bool folders = false;
    for (const std::string& argument : options.files) folders = folders || isDirectory(argument);
    if (folders && options.files.size() > 1) {
        printError("one game a run: give a game folder alone");
        run.unusable = true;
        return run;
    }
    for (const std::string& argument : options.files) {
        if (isDirectory(argument)) {
            readGame(argument, options, run);
        } else {
            readScript(argument, forcedEncoding(options), run);
        }
    }
    return run;
}

std::vector<std::string> encodingMessages(const analysis::Model& model, bool lenient) {
    std::vector<std::string> messages;
    for (std::size_t k = 0; k < model.files.size() && k < model.badBytes.size(); ++k) {
        const input::SourceFile& file = model.files[k];
        const std::optional<input::BadBytes>& bad = model.badBytes[k];
        if (!bad) continue;
        // The bad bytes themselves: a line end after a lead byte is not one.
        std::size_t length = 1;
        while (length < bad->length && bad->offset + length < file.bytes.size() &&
               static_cast<unsigned char>(file.bytes[bad->offset + length]) >= 0x80)
            ++length;
        std::string message = file.path + ":" + std::to_string(bad->line) + ":" + std::to_string(bad->column) + ": " +
                              (lenient ? "warning: " : "error: ") +
                              input::notValidText(std::string_view(file.bytes).substr(bad->offset, length), file.encoding);
        if (lenient) {
            message += "; shown as U+FFFD";
        } else {
            if (auto guess = input::guessEncoding(file.bytes); guess && *guess != file.encoding)
                message += "; the file looks like " + std::string(input::encodingName(*guess)) +
                           (*guess == input::Encoding::UTF8 ? ": try -utf8" : ": try -enc gbk");
            message += "\n" + file.path + ": note: -lenient converts the script anyway, with a warning for each such place";
        }
        messages.push_back(std::move(message));
    }
    return messages;
}
