// The model of a script as the engine reads it, and what is built on it:
// the reading page and the checks. The first byte picks the encoding and
// where the input is cut into two files of one game.
//
// Invariants: the spans of a line stay inside it, in order, never
// overlapping and never splitting a character; every target names an
// element of the model; every jump lands inside a file; the page is valid
// UTF-8 and shows every line.

#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis/characters.h"
#include "analysis/model.h"
#include "check/checks.h"
#include "check/report.h"
#include "codepage.h"
#include "fuzz_support.h"
#include "nscr/error.h"
#include "write/html5/reading_page.h"

namespace {

const analysis::CommandSet& commands() {
    static const analysis::CommandSet set = [] {
        analysis::CommandSet made;
        for (const char* name : {"goto", "gosub", "defsub", "numalias", "stralias", "game", "mov", "inc", "select",
                                 "jumpf", "jumpb", "skip", "if", "notif", "return", "langen", "d", "csel"})
            made.add(name, analysis::CommandSet::Block::Both);
        made.add("dim", analysis::CommandSet::Block::Definition);
        return made;
    }();
    return set;
}

// Whether column starts a character of the line.
bool startsCharacter(std::string_view text, std::size_t column, input::Encoding encoding) {
    std::size_t at = 0;
    while (at < column) at += analysis::characterSize(text, at, encoding);
    return at == column;
}

void checkSpans(const analysis::Model& model) {
    for (std::uint32_t global = 0; global < model.lines.size(); ++global) {
        std::uint32_t file = model.fileOfLine(global);
        std::uint32_t local = global - model.fileInfo[file].firstLine;
        std::string_view text = model.lineText(file, local);
        auto [first, last] = model.spansOf(global);
        std::uint32_t end = 0;
        for (const analysis::Span* span = first; span != last; ++span) {
            fuzz::require(span->begin >= end && span->begin <= span->end && span->end <= text.size(), "span out of place");
            fuzz::require(startsCharacter(text, span->begin, model.files[file].encoding), "span splits a character");
            end = span->end;
        }
    }
    for (const analysis::Reference& reference : model.references)
        fuzz::require(reference.symbol == analysis::none || reference.symbol < model.symbols.size(), "reference target");
    for (const analysis::Jump& jump : model.jumps)
        if (jump.site != analysis::TildeSite::Missing)
            fuzz::require(jump.to.file < model.files.size() && jump.to.line < model.fileInfo[jump.to.file].lineCount,
                          "jump lands outside");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    auto encoding = static_cast<input::Encoding>(data[0] % 3);
    std::string_view bytes = fuzz::asText(data + 2, size - 2);
    std::size_t cut = bytes.empty() ? 0 : data[1] % (bytes.size() + 1);
    std::vector<input::SourceFile> files = {{"0.txt", "0.txt", std::string(bytes.substr(0, cut)), encoding},
                                            {"1.txt", "1.txt", std::string(bytes.substr(cut)), encoding}};
    analysis::Model model = analysis::analyze(std::move(files), commands());
    checkSpans(model);

    check::CollectingSink sink;
    check::runChecks(model, commands(), check::CheckSelection::defaults(), input::Engine::NScripter, sink);

    writers::html5::PageLayout layout(model, {"p/0.txt.html", "p/1.txt.html"}, 100);
    writers::html5::ReadingOptions options;
    options.lineNumbers = true;
    for (std::size_t part = 0; part < layout.parts().size(); ++part) {
        std::string page = writers::html5::readingPage(model, layout, part, options);
        try {
            checkUtf8(page);
        } catch (const nscr::Error&) {
            fuzz::fail("page is not UTF-8");
        }
        const writers::html5::PagePart& shown = layout.parts()[part];
        if (shown.endLine > shown.firstLine)
            fuzz::require(page.find("id=\"L" + std::to_string(shown.endLine) + "\"") != std::string::npos, "last line missing");
    }
    return 0;
}
