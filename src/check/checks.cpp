#include "check/checks.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/characters.h"
#include "nscr/parallel.h"

namespace check {

using analysis::LineKind;
using analysis::Model;
using analysis::none;
using analysis::Pos;
using analysis::Reference;
using analysis::SpanKind;
using analysis::Symbol;
using analysis::SymbolKind;

namespace {

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = analysis::lowerByte(c);
    return lower;
}

// Reports findings of one model, each in its file's terms.
class Checker {
public:
    Checker(const Model& model, const analysis::CommandSet& commands, input::Engine engine, DiagnosticSink& sink)
        : model_(model), commands_(commands), engine_(engine), sink_(sink) {}

    using Check = void (Checker::*)();
    static const std::array<std::pair<CheckId, Check>, 11> checks;
    // The checks' indices, those that take longest on a large game first,
    // so that they end together when run side by side.
    static constexpr std::array<std::size_t, 11> longestFirst = {5, 0, 6, 4, 1, 2, 3, 7, 8, 9, 10};

    void run(Check check) { (this->*check)(); }

private:
    void report(CheckId id, const Pos& pos, std::string message) { report(id, infoOf(id).severity, pos, std::move(message)); }

    void report(CheckId id, Severity severity, const Pos& pos, std::string message) {
        Diagnostic diagnostic;
        diagnostic.check = id;
        diagnostic.severity = severity;
        diagnostic.where = {model_.files[pos.file].path, pos.file, pos.line + 1, pos.column + 1};
        diagnostic.message = std::move(message);
        sink_.report(std::move(diagnostic));
    }

    // "LINE:COL" of a place, with its file in front when it is not `from`'s.
    std::string placeText(const Pos& pos, std::uint32_t fromFile, bool withColumn = true) const {
        std::string text = pos.file == fromFile ? std::string() : model_.files[pos.file].path + ":";
        text += std::to_string(pos.line + 1);
        if (withColumn) {
            text += ':';
            text += std::to_string(pos.column + 1);
        }
        return text;
    }

    std::string_view textAt(const Pos& pos, std::uint32_t length) const {
        std::string_view line = model_.lineText(pos.file, pos.line);
        return pos.column >= line.size() ? std::string_view() : line.substr(pos.column, length);
    }

    // A user command's call: the linker records it as a reference of the
    // command's name to its label.
    bool isUserCommandCall(const Reference& reference) const {
        return reference.kind == analysis::RefKind::Call && reference.command == reference.key &&
               model_.find(SymbolKind::UserCommand, reference.key) != none;
    }

    static bool isDefsubName(const Reference& reference) {
        return reference.kind == analysis::RefKind::Implicit && reference.command == "defsub";
    }

    void undefinedLabels() {
        for (const Reference& reference : model_.references) {
            if (reference.symbol != none || reference.dynamic || reference.badForm || reference.key.empty()) continue;
            if (isDefsubName(reference) || isUserCommandCall(reference)) continue;
            // "COMMAND to undefined label *KEY", made in one string: a game
            // may have tens of thousands.
            auto message = [&](std::string_view between, std::string_view after) {
                std::string text;
                text.reserve(reference.command.size() + between.size() + reference.key.size() + after.size() + 1);
                text += reference.command;
                text += between;
                text += '*';
                text += reference.key;
                text += after;
                return text;
            };
            switch (reference.kind) {
                case analysis::RefKind::Implicit:
                    report(CheckId::UndefinedLabel, reference.pos, message(" goes to ", ", which is defined nowhere"));
                    break;
                case analysis::RefKind::Check:
                    // Asking is what lchk is for: the answer is only always "no".
                    report(CheckId::UndefinedLabel, Severity::Note, reference.pos,
                           message(" asks for ", ", which is defined nowhere"));
                    break;
                default:
                    report(CheckId::UndefinedLabel, reference.pos, message(" to undefined label ", ""));
            }
        }
    }

    std::string duplicateRules() const {
        switch (engine_) {
            case input::Engine::ONScripterRU: return "ONScripter-RU refuses to start";
            case input::Engine::ONScripterEN: return "ONScripter-EN uses the first";
            case input::Engine::ONScripter:
            case input::Engine::Ponscripter:
                return std::string(engineName(engine_)) + " uses the last";
            default: break;
        }
        return "ONScripter and Ponscripter use the last, ONScripter-EN the first, ONScripter-RU refuses to start";
    }

    void duplicateLabels() {
        for (const Symbol& symbol : model_.symbols) {
            if (symbol.kind != SymbolKind::Label || symbol.ordinal < 2) continue;
            const Symbol& first = model_.symbols[symbol.firstOfKey];
            Severity severity = engine_ == input::Engine::ONScripterRU ? Severity::Error : infoOf(CheckId::DuplicateLabel).severity;
            report(CheckId::DuplicateLabel, severity, symbol.pos,
                   "label *" + std::string(model_.nameOf(symbol)) + " is defined again (first at line " + placeText(first.pos, symbol.pos.file, false) +
                       "): " + duplicateRules());
        }
    }

    void labelArguments() {
        for (const Reference& reference : model_.references) {
            if (!reference.badForm || reference.dynamic) continue;
            std::string_view written = textAt(reference.pos, reference.length);
            std::string message = reference.command + ": ";
            if (!written.empty() && written.front() == '"') {
                std::string_view inside = written.substr(1);
                if (!inside.empty() && inside.back() == '"') inside.remove_suffix(1);
                if (!inside.empty() && inside.front() != '*')
                    message += std::string(written) + " is no label name; the engine drops its first character and looks for *" +
                               std::string(inside.substr(1));
                else
                    message += std::string(written) + " is no label name";
            } else if (!written.empty() && written.front() == '*') {
                message += "a \"*\" without a label name";
            } else if (!written.empty() && analysis::isWordHead(written.front())) {
                message += "the word " + std::string(written) + " where a label belongs; a label is written *" +
                           std::string(written);
            } else {
                message += written.empty() ? std::string("a label argument is missing")
                                           : std::string(written) + " is no label argument";
            }
            report(CheckId::LabelArgument, reference.pos, std::move(message));
        }
    }

    void defsubsWithoutLabel() {
        for (const analysis::Finding& finding : model_.findings)
            if (finding.id == "defsub-without-label") report(CheckId::DefsubWithoutLabel, finding.pos, finding.message);
        for (const Reference& reference : model_.references)
            if (isDefsubName(reference) && reference.symbol == none)
                report(CheckId::DefsubWithoutLabel, reference.pos,
                       "defsub " + std::string(textAt(reference.pos, reference.length)) + " has no label *" + reference.key +
                           ": every call of it fails");
    }

    // A statement that reads as an English sentence: three words or more of
    // letters, with blanks and punctuation between them and nothing else
    // (a full-width "?" or the like among them, as ports leave).
    static bool readsLikeSentence(std::string_view text) {
        std::size_t words = 0;
        std::size_t letters = 0;
        std::size_t wide = 0;
        bool inWord = false;
        for (char c : text) {
            if (analysis::isLetterByte(c)) {
                if (!inWord) ++words;
                inWord = true;
                ++letters;
                continue;
            }
            inWord = c == '\'' && inWord;
            if (!analysis::isAsciiByte(c)) {
                ++wide;
                continue;
            }
            if (c == ' ' || c == '\t' || c == '\'') continue;
            if (std::string_view(".,!?\"-;:").find(c) == std::string_view::npos) return false;
        }
        return words >= 3 && wide * 4 <= letters;
    }

    // A statement's command word and place, when the word is of the kind.
    std::optional<std::pair<Pos, std::string_view>> commandOf(const analysis::Statement& statement, SpanKind kind) const {
        if (statement.commandSpan == none) return std::nullopt;
        const analysis::Span& span = model_.spans[statement.commandSpan];
        if (span.kind() != kind) return std::nullopt;
        std::uint32_t file = model_.fileOfLine(statement.line);
        Pos pos{file, statement.line - model_.fileInfo[file].firstLine, span.begin};
        return std::pair(pos, model_.lineText(pos.file, pos.line).substr(span.begin, span.end - span.begin));
    }

    // Each unknown word once, at its first place, with how often it comes:
    // a word used throughout is more likely a command of an engine this
    // program does not know than a fault at each place. A line that reads
    // as a sentence is reported wherever it stands.
    void unknownCommands() {
        std::unordered_map<std::string, std::uint32_t> uses;
        std::vector<const analysis::Statement*> unknown;  // the model is walked once
        for (const analysis::Statement& statement : model_.statements) {
            if (!statement.unknownCommand) continue;
            if (auto command = commandOf(statement, SpanKind::UnknownCommand)) {
                ++uses[lowerCase(command->second)];
                unknown.push_back(&statement);
            }
        }
        for (const analysis::Statement* each : unknown) {
            const analysis::Statement& statement = *each;
            auto command = commandOf(statement, SpanKind::UnknownCommand);
            auto& [pos, word] = *command;
            std::string_view line = model_.lineText(pos.file, pos.line);
            bool sentence = readsLikeSentence(line.substr(statement.begin));
            std::uint32_t& count = uses[lowerCase(word)];
            if (count == 0 && !sentence) continue;  // reported at its first place
            std::string message = "unknown command " + std::string(word);
            if (sentence) {
                message += ": an English text line without its backquote?";
            } else if (count > 1) {
                message += " (used as a command on " + std::to_string(count - 1) + " more lines)";
            }
            count = 0;
            report(CheckId::UnknownCommand, pos, std::move(message));
        }
    }

    // Per label section (an index into labelLines_), whether the definition
    // block calls or jumps to it, itself or through sections it reaches:
    // such a section runs as part of the block.
    std::vector<bool> sectionsOfDefinitionBlock() {
        labelLines_.reserve(model_.symbols.size());
        for (std::uint32_t k = 0; k < model_.symbols.size(); ++k) {
            const Symbol& symbol = model_.symbols[k];
            if (symbol.kind == SymbolKind::Label) labelLines_.push_back({model_.lineIndex(symbol.pos.file, symbol.pos.line), k});
        }
        std::vector<std::pair<std::uint32_t, std::uint32_t>> refLines;  // global line, reference
        refLines.reserve(model_.references.size());
        for (std::uint32_t k = 0; k < model_.references.size(); ++k) {
            const Reference& reference = model_.references[k];
            if (reference.symbol == none || reference.kind == analysis::RefKind::Check) continue;
            refLines.push_back({model_.lineIndex(reference.pos.file, reference.pos.line), k});
        }
        // In script order but for the calls of user commands, found last:
        // those are sorted and merged in.
        auto unsorted = std::is_sorted_until(refLines.begin(), refLines.end());
        std::sort(unsorted, refLines.end());
        std::inplace_merge(refLines.begin(), unsorted, refLines.end());
        std::vector<std::uint32_t> sectionOfSymbol(model_.symbols.size(), none);
        for (std::uint32_t k = 0; k < labelLines_.size(); ++k) sectionOfSymbol[labelLines_[k].second] = k;
        std::vector<bool> reached(labelLines_.size(), false);
        std::vector<std::uint32_t> queue;
        auto reach = [&](std::uint32_t reference) {
            std::uint32_t section = sectionOfSymbol[model_.references[reference].symbol];
            if (section == none || reached[section]) return;
            reached[section] = true;
            queue.push_back(section);
        };
        for (const auto& [line, reference] : refLines)
            if (model_.lines[line].inDefineBlock) reach(reference);
        while (!queue.empty()) {
            std::uint32_t section = queue.back();
            queue.pop_back();
            std::uint32_t first = labelLines_[section].first;
            std::uint32_t last = section + 1 < labelLines_.size() ? labelLines_[section + 1].first : static_cast<std::uint32_t>(model_.lines.size());
            auto from = std::lower_bound(refLines.begin(), refLines.end(), std::pair(first, 0u));
            for (auto at = from; at != refLines.end() && at->first < last; ++at) reach(at->second);
        }
        return reached;
    }

    // The label section a line stands in, or none before the first label.
    std::uint32_t sectionOf(std::uint32_t globalLine) const {
        auto after = std::upper_bound(labelLines_.begin(), labelLines_.end(), std::pair(globalLine, none));
        return after == labelLines_.begin() ? none : static_cast<std::uint32_t>(after - labelLines_.begin() - 1);
    }

    void commandsInWrongBlock() {
        std::uint32_t define = model_.find(SymbolKind::Label, "define");
        if (define == none) return;  // a fragment: nothing runs as a definition block
        const Pos& definePos = model_.symbols[define].pos;
        std::uint32_t defineLine = model_.lineIndex(definePos.file, definePos.line);
        std::vector<bool> calledFromBlock = sectionsOfDefinitionBlock();
        for (const analysis::Statement& statement : model_.statements) {
            if (!statement.definitionCommand || statement.inDefineBlock || statement.line <= defineLine) continue;
            // A built-in command's span holds the block it belongs in.
            const analysis::Span& span = model_.spans[statement.commandSpan];
            if (span.kind() != SpanKind::Command ||
                span.target() != static_cast<std::uint32_t>(analysis::CommandSet::Block::Definition))
                continue;
            auto command = commandOf(statement, SpanKind::Command);
            std::uint32_t section = sectionOf(statement.line);
            if (section != none && calledFromBlock[section]) continue;
            report(CheckId::CommandInWrongBlock, command->first,
                   std::string(command->second) +
                       " belongs in the definition block, between *define and game; here it does not take effect");
        }
        for (std::uint32_t global = 0; global < model_.lines.size(); ++global) {
            const analysis::Line& line = model_.lines[global];
            if (line.kind != LineKind::Text || !line.inDefineBlock) continue;
            std::uint32_t f = model_.fileOfLine(global);
            std::uint32_t local = global - model_.fileInfo[f].firstLine;
            std::string_view text = model_.lineText(f, local);
            auto column = static_cast<std::uint32_t>(analysis::skipBlanks(text, 0));
            report(CheckId::CommandInWrongBlock, {f, local, column}, "text in the definition block, where no text is shown");
        }
    }

    void undefinedAliases() {
        for (std::uint32_t k : model_.undefinedAliasUses) {
            const analysis::Span& span = model_.spans[k];
            std::uint32_t global = model_.lineOfSpan(k);
            std::uint32_t file = model_.fileOfLine(global);
            std::uint32_t local = global - model_.fileInfo[file].firstLine;
            std::string_view written = model_.lineText(file, local).substr(span.begin, span.end - span.begin);
            std::string_view name = written;
            while (!name.empty() && !analysis::isWordHead(name.front())) name.remove_prefix(1);
            std::string message = std::string(written) + ": no numalias " + std::string(name) + " is defined";
            if (!written.empty() && written.front() == '%') message += " (the engine reads variable 0)";
            report(CheckId::AliasUndefined, {file, local, span.begin}, std::move(message));
        }
    }

    // An alias's value for a message: its number where known, else as written.
    std::string valueText(const Symbol& alias) const {
        return alias.number ? std::to_string(*alias.number) : std::string(model_.valueOf(alias));
    }

    void redefinedAliases() {
        for (const Symbol& symbol : model_.symbols) {
            if ((symbol.kind != SymbolKind::NumAlias && symbol.kind != SymbolKind::StrAlias) || symbol.ordinal < 2) continue;
            const Symbol& first = model_.symbols[symbol.firstOfKey];
            if (symbol.alternative || first.alternative) continue;
            std::string kind(analysis::symbolKindName(symbol.kind));
            std::string message = kind + " " + std::string(model_.nameOf(symbol)) + " is defined again (first at line " +
                                  placeText(first.pos, symbol.pos.file, false) + ")";
            bool same = symbol.number && first.number ? *symbol.number == *first.number
                                                      : !symbol.number && !first.number && model_.valueOf(symbol) == model_.valueOf(first);
            if (same) {
                // The same value either way: harmless, but one of them is dead.
                report(CheckId::AliasRedefined, Severity::Note, symbol.pos, message + " with the same value");
                continue;
            }
            message += ": the engines keep the first value, " + valueText(first) + ", Ponscripter takes this one, " +
                       valueText(symbol);
            report(CheckId::AliasRedefined, symbol.pos, std::move(message));
        }
    }

    void aliasesOfOneVariable() {
        static constexpr std::array<std::pair<std::uint8_t, std::string_view>, 3> uses = {{
            {analysis::UsedAsNumber, "%"}, {analysis::UsedAsString, "$"}, {analysis::UsedAsArray, "?"}}};
        // Per variable number, the first alias used as each kind of variable.
        std::unordered_map<std::int64_t, std::array<std::uint32_t, 3>> firstUser;
        for (std::uint32_t k = 0; k < model_.symbols.size(); ++k) {
            const Symbol& symbol = model_.symbols[k];
            if (symbol.kind != SymbolKind::NumAlias || symbol.ordinal != 1 || !symbol.number || symbol.usedAs == 0) continue;
            auto [entry, added] = firstUser.try_emplace(*symbol.number);
            if (added) entry->second.fill(none);
            for (std::size_t u = 0; u < uses.size(); ++u) {
                if ((symbol.usedAs & uses[u].first) == 0) continue;
                std::uint32_t& first = entry->second[u];
                if (first == none) {
                    first = k;
                    continue;
                }
                const Symbol& other = model_.symbols[first];
                if (other.alternative && symbol.alternative) continue;
                report(CheckId::AliasSameVariable, symbol.pos,
                       "numalias " + std::string(model_.nameOf(symbol)) + " names " + std::string(uses[u].second) + std::to_string(*symbol.number) +
                           ", as " + std::string(model_.nameOf(other)) + " (line " + placeText(other.pos, symbol.pos.file, false) +
                           ") does: both are used as that variable");
                break;
            }
        }
    }

    // What the byte a jump reaches stands in, for a trail byte.
    std::string_view whereInLine(const Pos& pos) const {
        auto [first, last] = model_.spansOf(model_.lineIndex(pos.file, pos.line));
        for (const analysis::Span* span = first; span != last; ++span) {
            if (pos.column < span->begin || pos.column >= span->end) continue;
            if (span->kind() == SpanKind::Comment) return " in a comment";
            if (span->kind() == SpanKind::String || span->kind() == SpanKind::LabelRef) return " in a string";
            return " in text";
        }
        return model_.line(pos.file, pos.line).kind == LineKind::Text ? " in text" : "";
    }

    // The first "~" that starts a statement after a place, where the author
    // most likely meant the jump to land.
    std::optional<Pos> meantTarget(const Pos& after) {
        if (nextTarget_.empty()) {
            nextTarget_.assign(model_.lines.size() + 1, none);
            for (std::uint32_t line = static_cast<std::uint32_t>(model_.lines.size()); line-- > 0;) {
                nextTarget_[line] = nextTarget_[line + 1];
                auto [first, last] = model_.spansOf(line);
                for (const analysis::Span* span = first; span != last; ++span)
                    if (span->kind() == SpanKind::JumpTarget) nextTarget_[line] = line;
            }
        }
        std::uint32_t line = model_.lineIndex(after.file, after.line);
        auto [first, last] = model_.spansOf(line);
        for (const analysis::Span* span = first; span != last; ++span)
            if (span->kind() == SpanKind::JumpTarget && span->begin > after.column) return Pos{after.file, after.line, span->begin};
        std::uint32_t next = nextTarget_[line + 1];
        if (next == none) return std::nullopt;
        std::uint32_t file = model_.fileOfLine(next);
        auto [nextFirst, nextLast] = model_.spansOf(next);
        for (const analysis::Span* span = nextFirst; span != nextLast; ++span)
            if (span->kind() == SpanKind::JumpTarget) return Pos{file, next - model_.fileInfo[file].firstLine, span->begin};
        return std::nullopt;
    }

    void jumpTargets() {
        using analysis::TildeSite;
        for (const analysis::Jump& jump : model_.jumps) {
            if (jump.kind == analysis::JumpKind::Skip || jump.site == TildeSite::Command) continue;
            bool forward = jump.kind == analysis::JumpKind::Forward;
            std::string message = jump.command;
            if (jump.site == TildeSite::Missing) {
                message += forward ? " finds no ~ after it: the engine runs off the end of the script"
                                   : " finds no ~ before it";
                report(CheckId::JumpfTarget, jump.from, std::move(message));
                continue;
            }
            std::string at = placeText(jump.to, jump.from.file);
            switch (jump.site) {
                case TildeSite::TrailByte:
                    message += " lands on the trail byte of a character" + std::string(whereInLine(jump.to)) + " at " + at;
                    break;
                case TildeSite::Comment: message += " lands on a ~ in a comment at " + at; break;
                case TildeSite::String: message += " lands on a ~ in a string at " + at; break;
                default: message += " lands on a ~ in text at " + at; break;
            }
            if (forward) {
                if (std::optional<Pos> meant = meantTarget(jump.to))
                    message += ", before the ~ meant at " + placeText(*meant, jump.from.file);
            }
            report(CheckId::JumpfTarget, jump.from, std::move(message));
        }
    }

    void bomsBeforeLabels() {
        if (engine_ == input::Engine::Ponscripter) return;  // it drops the mark
        constexpr std::string_view mark = "\xEF\xBB\xBF";
        std::string keeper = engine_ == input::Engine::NScripter
                                 ? std::string("the engines other than Ponscripter keep the mark and read")
                                 : std::string(engineName(engine_)) + " keeps the mark and reads";
        for (std::uint32_t file = 0; file < model_.files.size(); ++file) {
            std::string_view bytes = model_.files[file].bytes;
            if (!bytes.starts_with(mark)) continue;
            std::size_t at = analysis::skipBlanks(bytes, mark.size());
            if (at >= bytes.size() || bytes[at] != '*') continue;
            std::size_t name = at;
            while (name < bytes.size() && (bytes[name] == '*' || analysis::isBlankByte(bytes[name]))) ++name;
            std::string label(bytes.substr(name, analysis::wordEnd(bytes, name) - name));
            report(CheckId::BomHidesLabel, {file, 0, 0},
                   "a UTF-8 byte order mark stands before *" + label + ": " + keeper +
                       " the line as text, so the label is not defined");
        }
    }

    const Model& model_;
    const analysis::CommandSet& commands_;
    input::Engine engine_;
    DiagnosticSink& sink_;
    std::vector<std::uint32_t> nextTarget_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> labelLines_;  // global line, label symbol  // per line: the next line holding a "~" target
};

const std::array<std::pair<CheckId, Checker::Check>, 11> Checker::checks = {{
            {CheckId::UndefinedLabel, &Checker::undefinedLabels},
            {CheckId::DuplicateLabel, &Checker::duplicateLabels},
            {CheckId::LabelArgument, &Checker::labelArguments},
            {CheckId::DefsubWithoutLabel, &Checker::defsubsWithoutLabel},
            {CheckId::UnknownCommand, &Checker::unknownCommands},
            {CheckId::CommandInWrongBlock, &Checker::commandsInWrongBlock},
            {CheckId::AliasUndefined, &Checker::undefinedAliases},
            {CheckId::AliasRedefined, &Checker::redefinedAliases},
            {CheckId::AliasSameVariable, &Checker::aliasesOfOneVariable},
            {CheckId::JumpfTarget, &Checker::jumpTargets},
            {CheckId::BomHidesLabel, &Checker::bomsBeforeLabels},
    }};

}  // namespace

namespace {

// Keeps what one check finds, to be handed on in the order of the checks:
// in pieces, so that many findings are not copied as they grow.
class KeepingSink : public DiagnosticSink {
public:
    void report(Diagnostic diagnostic) override { kept.push_back(std::move(diagnostic)); }
    std::deque<Diagnostic> kept;
};

}  // namespace

void runChecks(const Model& model, const analysis::CommandSet& commands, const CheckSelection& selection,
               input::Engine engine, DiagnosticSink& sink) {
    // The checks only read the model: they run side by side, and what they
    // find reaches the sink as if they had run one after another.
    std::vector<KeepingSink> found(Checker::checks.size());
    std::atomic<std::size_t> next{0};
    nscr::runSideBySide(std::min(nscr::processorCount(), found.size()), [&](std::size_t) {
        for (std::size_t n; (n = next++) < Checker::checks.size();) {
            std::size_t k = Checker::longestFirst[n];
            const auto& [id, check] = Checker::checks[k];
            if (selection.has(id)) Checker(model, commands, engine, found[k]).run(check);
        }
    });
    std::size_t count = 0;
    for (const KeepingSink& each : found) count += each.kept.size();
    sink.expect(count);
    for (KeepingSink& each : found)
        for (Diagnostic& diagnostic : each.kept) sink.report(std::move(diagnostic));
}

void reportFileDiagnostic(DiagnosticSink& sink, const CheckSelection& selection, CheckId id, std::string path,
                          std::uint32_t fileOrder, std::string message) {
    if (!selection.has(id)) return;
    sink.report({id, infoOf(id).severity, {std::move(path), fileOrder, 1, 1}, std::move(message)});
}

std::string_view engineName(input::Engine engine) {
    switch (engine) {
        case input::Engine::NScripter: return "NScripter";
        case input::Engine::ONScripter: return "ONScripter";
        case input::Engine::ONScripterEN: return "ONScripter-EN";
        case input::Engine::Ponscripter: return "Ponscripter";
        case input::Engine::ONScripterRU: return "ONScripter-RU";
        case input::Engine::ONScripterJH: return "ONScripter-jh";
    }
    return "ONScripter";
}

}  // namespace check
