#include <algorithm>
#include <atomic>
#include <functional>
#include <iterator>
#include <string>

#include "analysis/builder.h"
#include "analysis/characters.h"
#include "nscr/parallel.h"

namespace analysis {

namespace {

// The line (global index) whose span index is `span`, and its file: spans
// are kept line after line, so the pending words, in the same order, walk
// the lines and files once from where the first of them stands.
class SpanLines {
public:
    SpanLines(const Model& model, std::uint32_t firstSpan) : model_(model) {
        auto after = std::upper_bound(model.lines.begin(), model.lines.end(), firstSpan,
                                      [](std::uint32_t span, const Line& line) { return span < line.firstSpan; });
        line_ = after == model.lines.begin() ? 0 : static_cast<std::uint32_t>(after - model.lines.begin() - 1);
        file_ = model.fileOfLine(line_);
    }
    std::uint32_t lineOf(std::uint32_t span) {
        while (line_ + 1 < model_.lines.size() && model_.lines[line_ + 1].firstSpan <= span) ++line_;
        while (file_ + 1 < model_.fileInfo.size() && model_.fileInfo[file_ + 1].firstLine <= line_) ++file_;
        return line_;
    }
    std::uint32_t file() const { return file_; }

private:
    const Model& model_;
    std::uint32_t line_ = 0;
    std::uint32_t file_ = 0;
};

// A run of pending words decided together, on one thread: the room for a
// word in lower case, and the calls of user commands found, in order.
struct WordChunk {
    std::size_t begin = 0, end = 0;
    std::string key;
    std::vector<Reference> calls;
    std::vector<std::uint32_t> undefinedUses;  // spans of %name, $name, ?name no alias defines
};

class Linker {
public:
    explicit Linker(FirstPass& pass) : pass_(pass), model_(pass.model) {}

    // The words are decided a chunk at a time on every thread, one of which
    // first works out the aliases' values; then both resolve the references
    // the first pass found, a slice at a time. The calls of user commands
    // the words turn out to be are kept by chunk meanwhile, and appended
    // after in order. A reference the words make dynamic is let go of its
    // label once all are done.
    void run(const std::function<void()>& alongside) {
        relateDefinitions();
        std::size_t found = model_.references.size();
        constexpr std::size_t slice = 4096;
        std::atomic<std::size_t> nextSlice{0};
        auto resolveSlices = [&] {
            for (std::size_t first; (first = nextSlice.fetch_add(slice)) < found;) {
                std::size_t end = std::min(found, first + slice);
                for (std::size_t k = first; k < end; ++k) {
                    fetchLabelSlot(k + 16, end, false);
                    fetchLabelSlot(k + 8, end, true);
                    Reference& reference = model_.references[k];
                    if (!reference.key.empty()) reference.symbol = model_.find(SymbolKind::Label, reference.key, reference.hash);
                }
            }
        };
        constexpr std::size_t chunkWords = 16384;
        std::vector<WordChunk> chunks((pass_.pending.size() + chunkWords - 1) / chunkWords);
        for (std::size_t c = 0; c < chunks.size(); ++c) {
            chunks[c].begin = c * chunkWords;
            chunks[c].end = std::min(pass_.pending.size(), (c + 1) * chunkWords);
        }
        std::atomic<std::size_t> nextChunk{0};
        nscr::runSideBySide(2, [&](std::size_t side) {
            if (side == 1) alongside();
            for (std::size_t c; (c = nextChunk++) < chunks.size();) decideChunk(chunks[c]);
            resolveSlices();
        });
        for (std::size_t k = 0; k < found; ++k)
            if (model_.references[k].dynamic) model_.references[k].symbol = none;
        for (WordChunk& chunk : chunks) {
            std::move(chunk.calls.begin(), chunk.calls.end(), std::back_inserter(model_.references));
            model_.undefinedAliasUses.insert(model_.undefinedAliasUses.end(), chunk.undefinedUses.begin(),
                                             chunk.undefinedUses.end());
        }
        groupReferences();
    }

private:
    std::string_view nameOf(const Span& span, std::uint32_t line, std::uint32_t file) const {
        const Line& where = model_.lines[line];
        std::string_view text = std::string_view(model_.files[file].bytes).substr(where.offset, where.length);
        return pendingName(text.substr(span.begin, span.end - span.begin));
    }

    // Names are compared and hashed as the engine compares them, whatever
    // their case: only a command word is put in lower case, for the
    // built-ins' table and the call it may make. A word's name is read only
    // where a definition has its hash: the script's bytes are no longer in
    // the processor's caches, and most words name nothing.
    void decideChunk(WordChunk& chunk) {
        using Role = PendingWord::Role;
        SpanLines lines(model_, pass_.pending[chunk.begin].span);
        // The names of the words a little ahead are fetched meanwhile.
        constexpr std::size_t ahead = 16;
        SpanLines linesAhead(model_, pass_.pending[chunk.begin].span);
        for (std::size_t k = chunk.begin; k < std::min(chunk.end, chunk.begin + ahead); ++k) fetchName(k, linesAhead);
        for (std::size_t k = chunk.begin; k < chunk.end; ++k) {
            if (k + ahead < chunk.end) fetchName(k + ahead, linesAhead);
            const PendingWord& word = pass_.pending[k];
            Span& span = model_.spans[word.span];
            auto name = [&] {
                std::uint32_t line = lines.lineOf(word.span);  // before file(): it walks the files too
                return nameOf(span, line, lines.file());
            };
            // Looks a kind's definitions up for the word's name.
            auto find = [&](SymbolKind kind) {
                return model_.mayName(kind, word.value) ? model_.find(kind, name(), word.value) : none;
            };
            switch (word.role) {
                // A command word was taken for a built-in or unknown as it
                // was read: only a user command's name can make it something else.
                case Role::CommandWord:
                    if (model_.mayName(SymbolKind::UserCommand, word.value)) {
                        std::string_view command = name();
                        decideCommand(span, command, word.value, lines.lineOf(word.span), chunk);
                    }
                    break;
                case Role::Argument: {
                    std::uint32_t alias = find(SymbolKind::NumAlias);
                    if (alias == none) alias = find(SymbolKind::StrAlias);
                    if (alias != none) setUse(span, alias, 0);
                    break;
                }
                case Role::NumberAlias: setVariableUse(word.span, find(SymbolKind::NumAlias), UsedAsNumber, chunk); break;
                case Role::StringAlias: setVariableUse(word.span, find(SymbolKind::NumAlias), UsedAsString, chunk); break;
                case Role::ArrayAlias: setVariableUse(word.span, find(SymbolKind::NumAlias), UsedAsArray, chunk); break;
                case Role::TextNumber:
                case Role::TextString: {
                    std::uint32_t alias = find(SymbolKind::NumAlias);
                    if (alias != none) setUse(span, alias, word.role == Role::TextNumber ? UsedAsNumber : UsedAsString);
                    break;
                }
                case Role::LabelWord: {
                    std::string_view label = name();
                    decideLabelWord(span, label, nameHash(label), word.value);
                    break;
                }
            }
        }
    }

    // Asks for the bytes of an alias's name to be brought into the caches:
    // they are read next to nothing else, far apart.
    void fetchName(std::size_t k, SpanLines& lines) const {
        const PendingWord& word = pass_.pending[k];
        if (word.role == PendingWord::Role::CommandWord) return;
        std::uint32_t line = lines.lineOf(word.span);
        __builtin_prefetch(model_.files[lines.file()].bytes.data() + model_.lines[line].offset + model_.spans[word.span].begin);
    }

    // Asks for the label table's slot of reference k's hash, or, once it is
    // there, for the bytes of the name it holds: labels stand far apart.
    void fetchLabelSlot(std::size_t k, std::size_t end, bool name) const {
        if (k >= end) return;
        std::uint32_t hash = model_.references[k].hash;
        const nscr::BigArray<Model::KeySlot>& table = model_.keyTables[Model::tableOf(SymbolKind::Label, hash)];
        if (table.empty()) return;
        const Model::KeySlot& slot = table[hash & (table.size() - 1)];
        if (!name)
            __builtin_prefetch(&slot);
        else if (slot.name != nullptr)
            __builtin_prefetch(slot.name);
    }

    // A user command learns its label.
    void relateDefinitions() {
        for (std::uint32_t half : {0u, 1u << 31})
            for (const Model::KeySlot& slot : model_.keyTables[Model::tableOf(SymbolKind::UserCommand, half)]) {
                if (slot.first == none) continue;
                std::uint32_t label = model_.find(SymbolKind::Label, model_.nameOf(model_.symbols[slot.first]));
                for (std::uint32_t k = slot.first; k != none; k = model_.symbols[k].nextOfKey) model_.symbols[k].label = label;
            }
    }

    // %name, $name or ?name: an alias, or a use of a name no alias defines.
    void setVariableUse(std::uint32_t span, std::uint32_t alias, std::uint8_t use, WordChunk& chunk) {
        setUse(model_.spans[span], alias, use);
        if (alias == none) chunk.undefinedUses.push_back(span);
    }

    void setUse(Span& span, std::uint32_t alias, std::uint8_t use) {
        span.setKind(SpanKind::AliasUse);
        span.setTarget(alias);
        // Words of other chunks may name the same alias meanwhile.
        if (alias != none) std::atomic_ref<std::uint8_t>(model_.symbols[alias].usedAs).fetch_or(use, std::memory_order_relaxed);
    }

    // A bare word where a label belongs: a string alias holds a label's
    // name at run time; anything else is not a label.
    void decideLabelWord(Span& span, std::string_view name, std::uint32_t hash, std::uint32_t reference) {
        Reference& ref = model_.references[reference];
        std::uint32_t alias = model_.findAlias(name, hash);
        if (alias != none && model_.symbols[alias].kind == SymbolKind::StrAlias) {
            ref.dynamic = true;
            setUse(span, alias, 0);
            return;
        }
        ref.badForm = true;
        if (alias != none)
            setUse(span, alias, 0);
        else
            span.setKind(SpanKind::Word);
    }

    // A user command wins over a built-in of the same name ("_name" calls
    // the built-in, and is no user command's name).
    void decideCommand(Span& span, std::string_view name, std::uint32_t hash, std::uint32_t line, WordChunk& chunk) {
        chunk.key.assign(name);
        for (char& c : chunk.key) c = lowerByte(c);
        const std::string& key = chunk.key;
        std::uint32_t user = model_.find(SymbolKind::UserCommand, key, hash);
        if (user == none) return;
        span.setKind(SpanKind::UserCommand);
        span.setTarget(user);
        addCall(span, key, hash, line, chunk);
    }

    void addCall(const Span& span, const std::string& key, std::uint32_t hash, std::uint32_t line, WordChunk& chunk) {
        Reference call;
        std::uint32_t file = model_.fileOfLine(line);
        call.pos = {file, line - model_.fileInfo[file].firstLine, span.begin};
        call.length = span.end - span.begin;
        call.kind = RefKind::Call;
        call.key = key;
        call.command = key;
        call.hash = hash;
        call.symbol = model_.find(SymbolKind::Label, key, call.hash);
        chunk.calls.push_back(std::move(call));
    }

    // References grouped by the label they go to, each group in script order.
    void groupReferences() {
        std::vector<std::uint32_t>& start = model_.refsStart;
        start.assign(model_.symbols.size() + 1, 0);
        for (const Reference& reference : model_.references)
            if (reference.symbol != none) ++start[reference.symbol + 1];
        for (std::size_t k = 1; k < start.size(); ++k) start[k] += start[k - 1];
        model_.refsByLabel.assign(start.back(), 0);
        std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
        for (std::uint32_t k = 0; k < model_.references.size(); ++k)
            if (model_.references[k].symbol != none) model_.refsByLabel[fill[model_.references[k].symbol]++] = k;
        auto before = [&](std::uint32_t a, std::uint32_t b) {
            const Pos& x = model_.references[a].pos;
            const Pos& y = model_.references[b].pos;
            return std::tie(x.file, x.line, x.column) < std::tie(y.file, y.line, y.column);
        };
        for (std::size_t k = 0; k + 1 < start.size(); ++k) {
            auto first = model_.refsByLabel.begin() + start[k];
            auto last = model_.refsByLabel.begin() + start[k + 1];
            if (!std::is_sorted(first, last, before)) std::stable_sort(first, last, before);
        }
    }

    FirstPass& pass_;
    Model& model_;
};

}  // namespace

void link(FirstPass& pass) {
    // The aliases' values are worked out alongside: they only read the
    // statements and write the aliases' numbers.
    Linker(pass).run([&pass] { evaluateAliases(pass.model, pass.values); });
    resolveJumps(pass.model);
}

Model analyze(std::vector<input::SourceFile> files, const CommandSet& commands, bool checkEncodings, TextDetail detail) {
    FirstPass pass = readLines(std::move(files), commands, checkEncodings, detail);
    link(pass);
    return std::move(pass.model);
}

}  // namespace analysis
