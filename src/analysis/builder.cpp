#include "analysis/builder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <iterator>
#include <memory>
#include <string>
#include <unordered_map>

#include "analysis/characters.h"
#include "nscr/error.h"
#include "nscr/file.h"
#include "nscr/lines.h"
#include "nscr/parallel.h"

namespace analysis {

static_assert(nscr::largestReadableFile <= UINT32_MAX, "a line's offset in its file takes 32 bits");
static_assert(sizeof(Line) == 16);

namespace {

// Where a command takes label arguments.
enum class LabelArgs : std::uint8_t { None, First, FirstOptional, Second, AllButFirst, Odd, FirstTwo, Trap };

// What a command asks of the analysis beyond its label arguments.
enum class Special : std::uint8_t {
    None, If, Defsub, NumAlias, StrAlias, Game, Reset, DefineReset, Csel, JumpForward, JumpBack, Skip,
    TextAfter, Dialogue, Lchk, Mov, IncDec, AddSub,
};

struct CommandRule {
    std::string_view name;
    LabelArgs labels;
    RefKind kind;
    Special special;
};

constexpr std::array<CommandRule, 47> commandRules = {{
    {"goto", LabelArgs::First, RefKind::Jump, Special::None},
    {"gosub", LabelArgs::First, RefKind::Call, Special::None},
    {"return", LabelArgs::FirstOptional, RefKind::Jump, Special::None},
    {"break", LabelArgs::FirstOptional, RefKind::Jump, Special::None},
    {"tablegoto", LabelArgs::AllButFirst, RefKind::Jump, Special::None},
    {"select", LabelArgs::Odd, RefKind::Jump, Special::None},
    {"selgosub", LabelArgs::Odd, RefKind::Call, Special::None},
    {"csel", LabelArgs::Odd, RefKind::Jump, Special::Csel},
    {"trap", LabelArgs::Trap, RefKind::Jump, Special::None},
    {"lr_trap", LabelArgs::Trap, RefKind::Jump, Special::None},
    {"r_trap", LabelArgs::Trap, RefKind::Jump, Special::None},
    {"trap2", LabelArgs::Trap, RefKind::Jump, Special::None},
    {"lr_trap2", LabelArgs::Trap, RefKind::Jump, Special::None},
    {"textgosub", LabelArgs::First, RefKind::Call, Special::None},
    {"pretextgosub", LabelArgs::First, RefKind::Call, Special::None},
    {"loadgosub", LabelArgs::First, RefKind::Call, Special::None},
    {"rgosub", LabelArgs::First, RefKind::Call, Special::None},
    {"skipgosub", LabelArgs::First, RefKind::Call, Special::None},
    {"event_callback", LabelArgs::First, RefKind::Call, Special::None},
    {"labelexist", LabelArgs::Second, RefKind::Check, Special::None},
    {"lchk", LabelArgs::First, RefKind::Check, Special::Lchk},
    {"sskip", LabelArgs::FirstTwo, RefKind::Jump, Special::None},
    {"mark_range_read", LabelArgs::FirstTwo, RefKind::Check, Special::None},
    {"if", LabelArgs::None, RefKind::Jump, Special::If},
    {"notif", LabelArgs::None, RefKind::Jump, Special::If},
    {"defsub", LabelArgs::None, RefKind::Jump, Special::Defsub},
    {"numalias", LabelArgs::None, RefKind::Jump, Special::NumAlias},
    {"stralias", LabelArgs::None, RefKind::Jump, Special::StrAlias},
    {"game", LabelArgs::None, RefKind::Jump, Special::Game},
    {"reset", LabelArgs::None, RefKind::Jump, Special::Reset},
    {"definereset", LabelArgs::None, RefKind::Jump, Special::DefineReset},
    {"jumpf", LabelArgs::None, RefKind::Jump, Special::JumpForward},
    {"jskip", LabelArgs::None, RefKind::Jump, Special::JumpForward},
    {"jnskip", LabelArgs::None, RefKind::Jump, Special::JumpForward},
    {"jauto", LabelArgs::None, RefKind::Jump, Special::JumpForward},
    {"jnauto", LabelArgs::None, RefKind::Jump, Special::JumpForward},
    {"jumpb", LabelArgs::None, RefKind::Jump, Special::JumpBack},
    {"skip", LabelArgs::None, RefKind::Jump, Special::Skip},
    {"langen", LabelArgs::None, RefKind::Jump, Special::TextAfter},
    {"langjp", LabelArgs::None, RefKind::Jump, Special::TextAfter},
    {"d", LabelArgs::None, RefKind::Jump, Special::Dialogue},
    {"d2", LabelArgs::None, RefKind::Jump, Special::Dialogue},
    {"mov", LabelArgs::None, RefKind::Jump, Special::Mov},
    {"inc", LabelArgs::None, RefKind::Jump, Special::IncDec},
    {"dec", LabelArgs::None, RefKind::Jump, Special::IncDec},
    {"add", LabelArgs::None, RefKind::Jump, Special::AddSub},
    {"sub", LabelArgs::None, RefKind::Jump, Special::AddSub},
}};

// The rule of a command word, in any case; nullptr for most words. The
// rules are found by hash in a small open-addressed table.
const CommandRule* ruleFor(std::string_view name, std::uint32_t hash) {
    static constexpr std::size_t slots = 128;
    static const std::array<const CommandRule*, slots> table = [] {
        std::array<const CommandRule*, slots> made{};
        for (const CommandRule& rule : commandRules) {
            std::size_t at = nameHash(rule.name) % slots;
            while (made[at] != nullptr) at = (at + 1) % slots;
            made[at] = &rule;
        }
        return made;
    }();
    for (std::size_t at = hash % slots; table[at] != nullptr; at = (at + 1) % slots)
        if (sameName(table[at]->name, name)) return table[at];
    return nullptr;
}

const CommandRule* ruleFor(std::string_view name) { return ruleFor(name, nameHash(name)); }

// How far a byte of text steps when it starts no text code: the size of
// its character in an encoding, or 0 for the bytes that may start a code.
using PlainSteps = std::array<std::uint8_t, 256>;

constexpr PlainSteps plainStepsFor(input::Encoding encoding, std::string_view codes) {
    PlainSteps steps{};
    for (unsigned lead = 0; lead < 256; ++lead) {
        std::uint8_t size = 1;
        if (lead >= 0x80) {
            if (encoding == input::Encoding::CP932) size = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
            if (encoding == input::Encoding::GBK) size = lead >= 0x81 && lead <= 0xFE ? 2 : 1;
            // UTF-8 steps a byte at a time: no byte of a character is ASCII.
        }
        steps[lead] = size;
    }
    for (unsigned char c : codes) steps[c] = 0;
    return steps;
}

// The bytes that start text codes; those that may hold an alias's name or
// stand for one (see plainTextRun).
constexpr std::string_view textCodes = "@\\/!#%$?(<[~";
constexpr std::string_view aliasCodes = "%$?(<[~";

constexpr std::array<PlainSteps, 3> plainSteps = {plainStepsFor(input::Encoding::CP932, textCodes),
                                                  plainStepsFor(input::Encoding::UTF8, textCodes),
                                                  plainStepsFor(input::Encoding::GBK, textCodes)};
constexpr std::array<PlainSteps, 3> aliasSteps = {plainStepsFor(input::Encoding::CP932, aliasCodes),
                                                  plainStepsFor(input::Encoding::UTF8, aliasCodes),
                                                  plainStepsFor(input::Encoding::GBK, aliasCodes)};

// Whether argument number index (from 0) of a command is a label.
bool isLabelArgument(LabelArgs labels, std::uint32_t index) {
    switch (labels) {
        case LabelArgs::None: return false;
        case LabelArgs::First:
        case LabelArgs::FirstOptional:
        case LabelArgs::Trap: return index == 0;
        case LabelArgs::Second: return index == 1;
        case LabelArgs::AllButFirst: return index >= 1;
        case LabelArgs::Odd: return index % 2 == 1;
        case LabelArgs::FirstTwo: return index <= 1;
    }
    return false;
}

// Whether a line whose first non-blank byte is c is text to the engine.
bool startsText(char c) {
    return !isAsciiByte(c) || isDigitByte(c) || std::string_view("@\\/%?$[(<!#,\"`^>").find(c) != std::string_view::npos;
}

// The state of a command's arguments, kept across lines while a select list
// goes on.
struct ArgumentState {
    const CommandRule* rule = nullptr;
    std::string command;  // as written
    std::uint32_t index = 0;
    bool expectOperand = true;  // in a condition: the next word is an operand
    bool inCondition = false;
    std::uint32_t statement = none;
};

// A run of whole lines of one file, read as a unit: a large file is cut
// into several, so that its lines are read side by side.
struct Piece {
    std::uint32_t file = 0;
    std::size_t begin = 0;  // bytes of the file
    std::size_t end = 0;
    std::uint32_t firstLine = 0;  // the number, from 0, of its first line in the file
    std::uint32_t lines = 0;      // how many it holds
    bool continues = false;       // a later piece of its file
    bool last = true;             // the file's last piece
    bool defines = false;         // it holds a *define label
};

class LineReader {
public:
    LineReader(FirstPass& pass, const std::vector<input::SourceFile>& files)
        : pass_(pass), model_(pass.model), files_(files) {}

    // Whether the reader stands in the definition block, or in a jumpf's
    // reach there: what a file inherits from the files before it.
    struct BlockState {
        bool inDefineBlock = false;
        bool inJumpRegion = false;
    };
    BlockState state() const { return {inDefineBlock_, inJumpRegion_}; }
    void setState(BlockState state) {
        inDefineBlock_ = state.inDefineBlock;
        inJumpRegion_ = state.inJumpRegion;
    }

    // Lines [begin, end) of a file's bytes, the first of them numbered
    // firstLine. A piece that goes on from the one before in the same file
    // adds its lines to that file.
    void readPiece(const Piece& piece) {
        file_ = piece.file;
        const input::SourceFile& source = files_[piece.file];
        encoding_ = source.encoding;
        std::string_view bytes = source.bytes;
        std::uint32_t first = static_cast<std::uint32_t>(model_.lines.size());
        std::uint32_t local = piece.firstLine;
        const char* at = bytes.data() + piece.begin;
        const char* const last = bytes.data() + piece.end;
        while (at != last) {
            const char* end = nscr::findLineEnd(at, last);
            auto offset = static_cast<std::uint32_t>(at - bytes.data());
            readLine(local++, offset, std::string_view(at, static_cast<std::size_t>(end - at)));
            if (end == last) break;
            at = end + (*end == '\r' && end + 1 != last && end[1] == '\n' ? 2 : 1);
        }
        std::uint32_t count = local - piece.firstLine;
        if (pass_.checkEncodings) checkBytes(piece, bytes.substr(piece.begin, piece.end - piece.begin));
        if (piece.continues && !model_.fileInfo.empty() && pass_.lastFile == piece.file) {
            model_.fileInfo.back().lineCount += count;
        } else {
            FileInfo info;
            info.firstLine = first;
            info.lineCount = count;
            model_.fileInfo.push_back(info);
            pass_.continuesFile = pass_.continuesFile || (model_.fileInfo.size() == 1 && piece.continues);
        }
        pass_.lastFile = piece.file;
        if (piece.last) list_ = {};
    }

private:
    // A piece starts at a line start: its first bad byte's line and column
    // are its own plus where the piece stands.
    void checkBytes(const Piece& piece, std::string_view bytes) {
        std::optional<input::BadBytes> bad = input::validate(bytes, encoding_);
        if (!bad) return;
        bad->offset += piece.begin;
        bad->line += piece.firstLine;
        pass_.badBytes.emplace_back(piece.file, *bad);
    }

    Pos pos(std::size_t column) const { return {file_, line_, static_cast<std::uint32_t>(column)}; }

    std::uint32_t addSpan(std::size_t begin, std::size_t end, SpanKind kind, std::uint32_t target = none) {
        model_.spans.push_back({static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end), kind, target});
        return static_cast<std::uint32_t>(model_.spans.size() - 1);
    }

    void addPending(std::uint32_t span, PendingWord::Role role, std::uint32_t value) {
        pass_.pending.push_back({span, role, value});
    }

    // A word whose name is the span's bytes past any sigil.
    void addNamedPending(std::uint32_t span, PendingWord::Role role) {
        const Span& named = model_.spans[span];
        addPending(span, role, nameHash(pendingName(text_.substr(named.begin, named.end - named.begin))));
    }

    void note(std::size_t column, std::string_view id, std::string message) {
        model_.findings.push_back({pos(column), std::string(id), std::move(message)});
    }

    void readLine(std::uint32_t local, std::uint32_t offset, std::string_view text) {
        line_ = local;
        text_ = text;
        Line line;
        line.offset = offset;
        line.length = static_cast<std::uint32_t>(text.size());
        line.firstSpan = static_cast<std::uint32_t>(model_.spans.size());
        lineIndex_ = static_cast<std::uint32_t>(model_.lines.size());
        model_.lines.push_back(line);
        LineKind kind = classify();
        model_.lines[lineIndex_].kind = kind;
        model_.lines[lineIndex_].inDefineBlock = inDefineBlock_;
    }

    LineKind classify() {
        std::size_t at = skipBlanks(text_, 0);
        if (at == text_.size()) return LineKind::Blank;
        char first = text_[at];
        if (first == ';') {
            addSpan(at, text_.size(), SpanKind::Comment);
            return LineKind::Comment;
        }
        // A select list goes on over lines that end in "," or start with one.
        if (list_.rule != nullptr && (listOpen_ || first == ',')) {
            std::size_t end = readArguments(at, list_);
            if (lineEndsList(end)) {
                listOpen_ = lastCodeByte(end) == ',';
            } else {
                list_ = {};
                readStatements(end);
            }
            return LineKind::Command;
        }
        list_ = {};
        if (first == '*') {
            readLabel(at);
            return LineKind::Label;
        }
        if (startsText(first)) {
            readText(at, first == '^', false);
            return LineKind::Text;
        }
        readStatements(at);
        return LineKind::Command;
    }

    void readLabel(std::size_t at) {
        std::size_t nameStart = at;
        while (nameStart < text_.size() && (text_[nameStart] == '*' || isBlankByte(text_[nameStart]))) ++nameStart;
        std::size_t nameEnd = wordEnd(text_, nameStart);
        std::string_view name = text_.substr(nameStart, nameEnd - nameStart);
        std::uint32_t symbol = addSymbol(SymbolKind::Label, name, nameStart);
        addSpan(at, nameEnd, SpanKind::LabelDef, symbol);
        if (sameName(name, "define")) inDefineBlock_ = true;
        readStatements(nameEnd);
    }

    std::uint32_t addSymbol(SymbolKind kind, std::string_view name, std::size_t column) {
        Symbol symbol;
        symbol.kind = kind;
        symbol.pos = pos(column);
        symbol.length = static_cast<std::uint32_t>(name.size());
        symbol.hash = nameHash(name);
        symbol.alternative = inDefineBlock_ && inJumpRegion_;
        auto id = static_cast<std::uint32_t>(model_.symbols.size());
        model_.symbols.push_back(std::move(symbol));
        return id;
    }

    std::uint32_t addReference(std::size_t begin, std::size_t end, RefKind kind, std::string key,
                               std::string_view command) {
        Reference reference;
        reference.pos = pos(begin);
        reference.length = static_cast<std::uint32_t>(end - begin);
        reference.kind = kind;
        reference.key = std::move(key);
        if (!reference.key.empty()) reference.hash = nameHash(reference.key);
        reference.command = std::string(command);
        model_.references.push_back(std::move(reference));
        return static_cast<std::uint32_t>(model_.references.size() - 1);
    }

    std::uint32_t startStatement(std::size_t at) {
        Statement statement;
        statement.line = lineIndex_;
        statement.begin = static_cast<std::uint32_t>(at);
        statement.end = static_cast<std::uint32_t>(text_.size());
        statement.inDefineBlock = inDefineBlock_;
        model_.statements.push_back(statement);
        return static_cast<std::uint32_t>(model_.statements.size() - 1);
    }

    // The statement's text from its start to the line's end goes along, so
    // that working out the values reads nothing else.
    void addValue(std::uint32_t statement, std::uint32_t symbol) {
        std::string_view text = text_.substr(model_.statements[statement].begin);
        pass_.values.push_back({statement, symbol, text.data(), static_cast<std::uint32_t>(text.size())});
    }

    void endStatement(std::uint32_t statement, std::size_t at) {
        if (statement != none) model_.statements[statement].end = static_cast<std::uint32_t>(at);
    }

    // Statements one after another to the end of the line or a comment.
    void readStatements(std::size_t at) {
        while (true) {
            at = skipBlanks(text_, at);
            if (at >= text_.size()) return;
            char c = text_[at];
            if (c == ';') {
                addSpan(at, text_.size(), SpanKind::Comment);
                return;
            }
            if (c == ':') {
                ++at;
                continue;
            }
            if (c == '~') {
                addSpan(at, at + 1, SpanKind::JumpTarget);
                inJumpRegion_ = false;
                ++at;
                continue;
            }
            if (!isAsciiByte(c) || c == '`' || c == '^') {
                readText(at, c == '^');
                return;
            }
            at = readStatement(at);
        }
    }

    // One statement from its first byte; gives where it ended (its ":" or
    // comment, or the line's end).
    std::size_t readStatement(std::size_t at) {
        ArgumentState state;
        state.statement = startStatement(at);
        if (!isWordHead(text_[at])) return finishStatement(readArguments(at, state), state);
        return finishStatement(readCommand(at, state), state);
    }

    std::size_t finishStatement(std::size_t at, ArgumentState& state) {
        endStatement(state.statement, at);
        // A list that reaches the end of its line may go on on the next.
        if (state.rule != nullptr && state.rule->labels == LabelArgs::Odd && lineEndsList(at)) {
            list_ = state;
            listOpen_ = lastCodeByte(at) == ',';
        }
        return at;
    }

    bool lineEndsList(std::size_t at) const { return at >= text_.size() || text_[at] == ';'; }

    char lastCodeByte(std::size_t end) const {
        std::size_t at = end;
        while (at > 0 && isBlankByte(text_[at - 1])) --at;
        return at > 0 ? text_[at - 1] : '\0';
    }

    // The block of a built-in command word, whatever its case; "_name"
    // calls the built-in even where a user command takes the name.
    const CommandSet::Block* builtIn(std::string_view word, std::uint32_t hash) const {
        const CommandSet::Block* block = pass_.commands->findAnyCase(word, hash);
        if (block == nullptr && word.size() > 1 && word[0] == '_')
            block = pass_.commands->findAnyCase(word.substr(1), nameHash(word.substr(1)));
        return block;
    }

    // The command word at `at` and its arguments.
    std::size_t readCommand(std::size_t at, ArgumentState& state) {
        std::size_t end = wordEnd(text_, at);
        std::string_view word = text_.substr(at, end - at);
        std::uint32_t hash = nameHash(word);
        const CommandSet::Block* block = builtIn(word, hash);
        std::uint32_t span = addSpan(at, end, block != nullptr ? SpanKind::Command : SpanKind::UnknownCommand,
                                     block != nullptr ? static_cast<std::uint32_t>(*block) : none);
        addPending(span, PendingWord::Role::CommandWord, hash);
        if (state.statement != none && model_.statements[state.statement].commandSpan == none) {
            Statement& statement = model_.statements[state.statement];
            statement.commandSpan = span;
            statement.definitionCommand = block != nullptr && *block == CommandSet::Block::Definition;
            statement.unknownCommand = block == nullptr;
        }
        state.rule = ruleFor(word, hash);
        state.command = std::string(word);
        state.index = 0;
        state.inCondition = false;
        if (state.rule == nullptr) return readArguments(end, state);
        switch (state.rule->special) {
            case Special::If:
                state.inCondition = true;
                state.expectOperand = true;
                return readArguments(end, state);
            case Special::Defsub: return readDefsub(end);
            case Special::NumAlias: return readAlias(end, SymbolKind::NumAlias, state);
            case Special::StrAlias: return readAlias(end, SymbolKind::StrAlias, state);
            case Special::Game:
                addReference(at, end, RefKind::Implicit, "start", word);
                inDefineBlock_ = false;
                break;
            case Special::Reset: addReference(at, end, RefKind::Implicit, "start", word); break;
            case Special::DefineReset: addReference(at, end, RefKind::Implicit, "define", word); break;
            case Special::Csel: addReference(at, end, RefKind::Implicit, "customsel", word); break;
            case Special::JumpForward:
            case Special::JumpBack:
            case Special::Skip: addJump(at, end, word, state.rule->special); break;
            case Special::TextAfter: return readTextAfter(end);
            case Special::Dialogue:
                if (readsAsDialogue(end)) {
                    readText(skipBlanks(text_, end), false);
                    return text_.size();
                }
                break;
            case Special::Mov:
            case Special::IncDec:
            case Special::AddSub:
                // Also after game: a label the definition block calls may
                // stand there and set the variables its aliases are made of.
                addValue(state.statement, none);
                break;
            default: break;
        }
        return readArguments(end, state);
    }

    void addJump(std::size_t at, std::size_t end, std::string_view word, Special special) {
        Jump jump;
        jump.from = pos(at);
        jump.length = static_cast<std::uint32_t>(end - at);
        jump.kind = special == Special::JumpForward ? JumpKind::Forward
                    : special == Special::JumpBack  ? JumpKind::Back
                                                    : JumpKind::Skip;
        jump.command = std::string(word);
        model_.jumps.push_back(std::move(jump));
        if (special == Special::JumpForward && inDefineBlock_) inJumpRegion_ = true;
    }

    // `d [lv ...]「...」`: the rest of the line is dialogue text.
    bool readsAsDialogue(std::size_t end) const {
        std::size_t at = skipBlanks(text_, end);
        return at > end && at < text_.size() && (text_[at] == '[' || text_[at] == '`' || !isAsciiByte(text_[at]));
    }

    // `langen^...^`: what follows the command is text, unless it ends the statement.
    std::size_t readTextAfter(std::size_t end) {
        std::size_t at = skipBlanks(text_, end);
        if (at >= text_.size() || text_[at] == ':' || text_[at] == ';') return at;
        readText(at, text_[at] == '^');
        return text_.size();
    }

    std::size_t readDefsub(std::size_t at) {
        at = skipBlanks(text_, at);
        std::size_t end = wordEnd(text_, at);
        if (end == at) {
            note(at, "defsub-without-label", "defsub names no command");
            return end;
        }
        std::string_view name = text_.substr(at, end - at);
        std::uint32_t symbol = addSymbol(SymbolKind::UserCommand, name, at);
        addSpan(at, end, SpanKind::UserCommand, symbol);
        addReference(at, end, RefKind::Implicit, lowerCase(name), "defsub");
        return end;
    }

    std::size_t readAlias(std::size_t at, SymbolKind kind, ArgumentState& state) {
        at = skipBlanks(text_, at);
        std::size_t end = wordEnd(text_, at);
        if (end == at) return readArguments(at, state);
        std::uint32_t symbol = addSymbol(kind, text_.substr(at, end - at), at);
        addSpan(at, end, SpanKind::AliasDef, symbol);
        state.index = 1;
        std::size_t valueStart = skipBlanks(text_, end);
        if (valueStart < text_.size() && (text_[valueStart] == ',' || text_[valueStart] == '=')) ++valueStart;
        valueStart = skipBlanks(text_, valueStart);
        std::size_t stop = readArguments(valueStart, state);
        std::size_t valueEnd = stop;
        while (valueEnd > valueStart && isBlankByte(text_[valueEnd - 1])) --valueEnd;
        model_.symbols[symbol].valueColumn = static_cast<std::uint32_t>(valueStart);
        model_.symbols[symbol].valueLength = static_cast<std::uint32_t>(valueEnd - valueStart);
        if (kind == SymbolKind::NumAlias) addValue(state.statement, symbol);
        return stop;
    }

    // Arguments to the statement's end; gives where it ended.
    std::size_t readArguments(std::size_t at, ArgumentState& state) {
        while (true) {
            at = skipBlanks(text_, at);
            if (at >= text_.size()) return at;
            char c = text_[at];
            if (c == ':' || c == ';') return at;
            if (c == ',') {
                ++state.index;
                state.expectOperand = true;
                ++at;
                continue;
            }
            bool labelPlace = !state.inCondition && state.rule != nullptr && isLabelArgument(state.rule->labels, state.index);
            if (labelPlace) {
                std::size_t next = readLabelArgument(at, state);
                if (next != at) {
                    at = next;
                    continue;
                }
            }
            if (state.inCondition && isWordHead(c)) {
                std::size_t end = wordEnd(text_, at);
                std::string lower = lowerCase(text_.substr(at, end - at));
                if (lower == "lchk" || lower == "fchk") {
                    std::uint32_t span = addSpan(at, end, SpanKind::Command);
                    (void)span;
                    if (lower == "lchk") {
                        ArgumentState check;
                        check.rule = ruleFor("lchk");
                        check.command = std::string(text_.substr(at, end - at));
                        std::size_t next = readLabelArgument(skipBlanks(text_, end), check);
                        at = next;
                    } else {
                        at = end;
                    }
                    state.expectOperand = false;
                    continue;
                }
                if (!state.expectOperand) return readCommand(at, state);
            }
            at = readOperand(at, state);
        }
    }

    // A label argument at `at`: gives where it ends, or `at` when the bytes
    // there are no label argument of any form (an expression, say).
    std::size_t readLabelArgument(std::size_t at, ArgumentState& state) {
        const CommandRule& rule = *state.rule;
        char c = text_[at];
        if (rule.labels == LabelArgs::Trap && isWordHead(c)) {
            std::string lower = lowerCase(text_.substr(at, wordEnd(text_, at) - at));
            if (lower == "off" || lower == "stop" || lower == "resume") return at;
        }
        if (c == '*') {
            std::size_t nameStart = at;
            while (nameStart < text_.size() && text_[nameStart] == '*') ++nameStart;
            std::size_t end = wordEnd(text_, nameStart);
            std::uint32_t ref =
                addReference(at, end, rule.kind, lowerCase(text_.substr(nameStart, end - nameStart)), state.command);
            if (end == nameStart) model_.references[ref].badForm = true;
            addSpan(at, end, SpanKind::LabelRef, ref);
            state.expectOperand = false;
            return end;
        }
        if (c == '"') {
            std::size_t close = findCharacter(text_, at + 1, '"', encoding_);
            std::size_t end = close == std::string_view::npos ? text_.size() : close + 1;
            std::string_view inside = text_.substr(at + 1, (close == std::string_view::npos ? text_.size() : close) - at - 1);
            // The engine drops the first character, whatever it is.
            std::string_view name = inside.empty() ? inside : inside.substr(1);
            std::uint32_t ref = addReference(at, end, rule.kind, lowerCase(name), state.command);
            Reference& reference = model_.references[ref];
            reference.badForm = inside.empty() || inside[0] != '*' || wordEnd(name, 0) != name.size();
            addSpan(at, end, SpanKind::LabelRef, ref);
            if (close == std::string_view::npos) note(at, "unterminated-string", "string without its closing quote");
            state.expectOperand = false;
            return end;
        }
        if (c == '$') {
            std::size_t end = at + 1;
            if (end < text_.size() && isDigitByte(text_[end])) {
                while (end < text_.size() && isDigitByte(text_[end])) ++end;
                std::uint32_t ref = addReference(at, end, rule.kind, "", state.command);
                model_.references[ref].dynamic = true;
                addSpan(at, end, SpanKind::LabelDynamic, ref);
                state.expectOperand = false;
                return end;
            }
            end = wordEnd(text_, end);
            if (end == at + 1) return at;
            std::uint32_t ref = addReference(at, end, rule.kind, "", state.command);
            model_.references[ref].dynamic = true;
            std::uint32_t span = addSpan(at, end, SpanKind::AliasUse);
            addNamedPending(span, PendingWord::Role::StringAlias);
            state.expectOperand = false;
            return end;
        }
        if (isWordHead(c)) {
            std::size_t end = wordEnd(text_, at);
            std::uint32_t ref = addReference(at, end, rule.kind, "", state.command);
            std::uint32_t span = addSpan(at, end, SpanKind::AliasUse);
            addPending(span, PendingWord::Role::LabelWord, ref);
            state.expectOperand = false;
            return end;
        }
        if (rule.labels == LabelArgs::FirstOptional) return at;
        std::size_t end = at;
        while (end < text_.size() && text_[end] != ',' && text_[end] != ':' && text_[end] != ';') ++end;
        std::uint32_t ref = addReference(at, end, rule.kind, "", state.command);
        model_.references[ref].badForm = true;
        return at;
    }

    // One operand or operator of an argument; gives where it ended.
    std::size_t readOperand(std::size_t at, ArgumentState& state) {
        char c = text_[at];
        if (c == '"' || c == '`') {
            std::size_t close = findCharacter(text_, at + 1, c, encoding_);
            std::size_t end = close == std::string_view::npos ? text_.size() : close + 1;
            if (close == std::string_view::npos && c == '"')
                note(at, "unterminated-string", "string without its closing quote");
            addSpan(at, end, c == '"' ? SpanKind::String : SpanKind::Text);
            state.expectOperand = false;
            return end;
        }
        if (c == '%' || c == '$' || c == '?') return readVariable(at, state);
        if (isDigitByte(c)) {
            std::size_t end = at;
            while (end < text_.size() && isDigitByte(text_[end])) ++end;
            addSpan(at, end, SpanKind::Number);
            state.expectOperand = false;
            return end;
        }
        if (c == '#' && hexRun(at + 1) >= 6) {
            addSpan(at, at + 7, SpanKind::Color);
            state.expectOperand = false;
            return at + 7;
        }
        if (isWordHead(c)) {
            std::size_t end = wordEnd(text_, at);
            std::uint32_t span = addSpan(at, end, SpanKind::Word);
            addNamedPending(span, PendingWord::Role::Argument);
            state.expectOperand = false;
            return end;
        }
        if (!isAsciiByte(c)) {
            std::size_t end = at;
            while (end < text_.size() && !isAsciiByte(text_[end])) end += characterSize(text_, end, encoding_);
            addSpan(at, end, SpanKind::Text);
            state.expectOperand = false;
            return end;
        }
        if (c == '*' && state.expectOperand) {
            // A label where no label belongs is still a label to the reader.
            std::size_t end = wordEnd(text_, at + 1);
            if (end > at + 1) {
                addSpan(at, end, SpanKind::LabelRef, none);
                state.expectOperand = false;
                return end;
            }
        }
        // Operators: ")" and "]" close an operand; the others want one.
        state.expectOperand = !(c == ')' || c == ']');
        return at + 1;
    }

    std::size_t hexRun(std::size_t at) const {
        std::size_t end = at;
        while (end < text_.size() && end - at < 6 && isHexByte(text_[end])) ++end;
        return end - at;
    }

    std::size_t readVariable(std::size_t at, ArgumentState& state) {
        char sigil = text_[at];
        std::size_t end = at + 1;
        while (sigil == '%' && end < text_.size() && text_[end] == '%') ++end;
        state.expectOperand = false;
        if (end < text_.size() && isDigitByte(text_[end])) {
            while (end < text_.size() && isDigitByte(text_[end])) ++end;
            addSpan(at, end, sigil == '%' ? SpanKind::NumVar : sigil == '$' ? SpanKind::StrVar : SpanKind::ArrayVar);
            return end;
        }
        std::size_t nameEnd = wordEnd(text_, end);
        if (nameEnd == end || !isWordHead(text_[end])) {
            // "%" alone, or before an expression: "%(...)" is not a form of these scripts.
            state.expectOperand = true;
            return end;
        }
        std::uint32_t span = addSpan(at, nameEnd, SpanKind::AliasUse);
        addNamedPending(span, sigil == '%'   ? PendingWord::Role::NumberAlias
                              : sigil == '$' ? PendingWord::Role::StringAlias
                                             : PendingWord::Role::ArrayAlias);
        return nameEnd;
    }

    // A text code found at some place: where it ends and what it is. A
    // code that ends where it starts is no code: the character is text.
    struct TextCode {
        std::size_t end;
        SpanKind kind = SpanKind::TextCode;
        bool maybeAlias = false;  // %name or $name: an alias, or just text
    };

    // Text from `at` to the line's end, with its codes marked, and its
    // runs of text too where the line is not a text line (whose bytes no
    // span covers are text from its first non-blank on).
    void readText(std::size_t at, bool caretText, bool marksText = true) {
        std::size_t runStart = at;
        std::size_t lastCode = lastCodeEnd();
        // A text line read for its aliases alone stops at fewer codes.
        bool aliasesOnly = !marksText && pass_.textDetail == TextDetail::AliasesOnly;
        const std::size_t size = text_.size();
        while (at < size) {
            at = aliasesOnly ? plainTextEnd<true>(at) : plainTextEnd<false>(at);
            if (at >= size) break;
            TextCode code = textCodeAt(at, caretText, lastCode);
            if (code.end == at) {
                ++at;
                continue;
            }
            if (code.kind == SpanKind::Text && !code.maybeAlias) {
                at = code.end;
                continue;
            }
            if (!marksText && !code.maybeAlias && pass_.textDetail == TextDetail::AliasesOnly) {
                runStart = at = code.end;
                continue;
            }
            if (marksText && at > runStart) addSpan(runStart, at, SpanKind::Text);
            std::uint32_t span = addSpan(at, code.end, code.kind);
            if (code.maybeAlias)
                addNamedPending(span, text_[at] == '%' ? PendingWord::Role::TextNumber : PendingWord::Role::TextString);
            runStart = at = code.end;
        }
        if (marksText && text_.size() > runStart) addSpan(runStart, text_.size(), SpanKind::Text);
    }

    // Where the plain text from `at` on ends, in a tight loop: at the next
    // text code, or the line's end (a character cut short by it stops there).
    template <bool AliasesOnly>
    std::size_t plainTextEnd(std::size_t at) const {
        const PlainSteps& steps = (AliasesOnly ? aliasSteps : plainSteps)[static_cast<std::size_t>(encoding_)];
        const std::size_t size = text_.size();
        for (std::uint8_t step; at < size;) {
            if (at + 16 <= size) {
                std::size_t run = plainTextRun<AliasesOnly>(text_.data() + at, encoding_);
                at += run;
                if (run != 0) continue;
            }
            if ((step = steps[static_cast<unsigned char>(text_[at])]) == 0) break;
            at += step;
        }
        return at;
    }

    // Where the line's text ends, trailing blanks aside.
    std::size_t lastCodeEnd() const {
        std::size_t end = text_.size();
        while (end > 0 && isBlankByte(text_[end - 1])) --end;
        return end;
    }

    TextCode textCodeAt(std::size_t at, bool caretText, std::size_t lastCode) const {
        char c = text_[at];
        switch (c) {
            case '@':
            case '\\': return {at + 1};
            case '/': return {at + 1 == lastCode ? at + 1 : at};
            case '!': return {waitCodeEnd(at)};
            case '#': return {hexRun(at + 1) < 6 ? at : at + 7, SpanKind::Color};
            case '%':
            case '$':
            case '?': return textVariableAt(at);
            case '(': return {enclosedEnd(at, ')', true), SpanKind::Ruby};
            case '<':
                return {at + 1 < text_.size() && isDigitByte(text_[at + 1]) ? enclosedEnd(at, '>', false) : at,
                        SpanKind::TextButton};
            case '[': return {enclosedEnd(at, ']', false), SpanKind::Tag};
            case '~': return {caretText ? enclosedEnd(at, '~', false) : at};
            default: return {at};
        }
    }

    // !w100, !d100, !s100, !sd
    std::size_t waitCodeEnd(std::size_t at) const {
        if (at + 1 >= text_.size()) return at;
        char kind = text_[at + 1];
        if (kind != 'w' && kind != 'd' && kind != 's') return at;
        std::size_t end = at + 2;
        if (kind == 's' && end < text_.size() && text_[end] == 'd') return end + 1;
        std::size_t digits = end;
        while (end < text_.size() && isDigitByte(text_[end])) ++end;
        return end == digits ? at : end;
    }

    // %N, $N, ?N[..] and their alias forms inside text; "$$" is a "$".
    TextCode textVariableAt(std::size_t at) const {
        char sigil = text_[at];
        std::size_t end = at + 1;
        if (sigil == '$' && end < text_.size() && text_[end] == '$') return {end + 1, SpanKind::Text};
        if (end < text_.size() && isDigitByte(text_[end])) {
            while (end < text_.size() && isDigitByte(text_[end])) ++end;
            if (sigil == '?') end = indicesEnd(end);
            return {end, sigil == '%' ? SpanKind::NumVar : sigil == '$' ? SpanKind::StrVar : SpanKind::ArrayVar};
        }
        if (sigil == '?' || end >= text_.size() || !isWordHead(text_[end])) return {at};
        return {wordEnd(text_, end), SpanKind::Text, true};
    }

    std::size_t indicesEnd(std::size_t at) const {
        while (at < text_.size() && text_[at] == '[') {
            std::size_t close = findCharacter(text_, at, ']', encoding_);
            if (close == std::string_view::npos) return at;
            at = close + 1;
        }
        return at;
    }

    // The end of a code from `at` to its closing byte on the same line,
    // stepping over characters, or `at` when it does not close; ruby also
    // needs a "/" inside.
    std::size_t enclosedEnd(std::size_t at, char close, bool needsSlash) const {
        bool slash = false;
        for (std::size_t end = at + 1; end < text_.size(); end += characterSize(text_, end, encoding_)) {
            char c = text_[end];
            if (c == close) return needsSlash && !slash ? at : end + 1;
            if (c == '/') slash = true;
            if (needsSlash && c == '(') return at;
        }
        return at;
    }

    FirstPass& pass_;
    Model& model_;
    std::uint32_t file_ = 0;
    std::uint32_t line_ = 0;
    std::uint32_t lineIndex_ = 0;
    std::string_view text_;
    input::Encoding encoding_ = input::Encoding::CP932;
    const std::vector<input::SourceFile>& files_;
    bool inDefineBlock_ = false;
    bool inJumpRegion_ = false;
    ArgumentState list_;   // a select list that may go on on the next line
    bool listOpen_ = false;  // the last line ended in ","
};

}  // namespace

namespace {

std::uint32_t rebased(std::uint32_t index, std::size_t offset) {
    return index == none ? none : static_cast<std::uint32_t>(index + offset);
}

// Appends the first pass of later files to the pass of the files before.
// Where the records of a part go in the whole: the sizes before it.
struct Bases {
    std::size_t lines, spans, statements, symbols, references;
};

void appendLines(Model& model, Model& more, const Bases& base) {
    model.lines.resizeForOverwrite(base.lines + more.lines.size());
    Line* line = model.lines.data() + base.lines;
    for (Line next : more.lines) {
        next.firstSpan = rebased(next.firstSpan, base.spans);
        *line++ = next;
    }
    model.statements.resizeForOverwrite(base.statements + more.statements.size());
    Statement* statement = model.statements.data() + base.statements;
    for (Statement next : more.statements) {
        next.line = rebased(next.line, base.lines);
        next.commandSpan = rebased(next.commandSpan, base.spans);
        *statement++ = next;
    }
}

void appendSpans(Model& model, Model& more, const Bases& base) {
    model.spans.resizeForOverwrite(base.spans + more.spans.size());
    Span* span = model.spans.data() + base.spans;
    for (Span next : more.spans) {
        switch (next.kind()) {
            case SpanKind::LabelDef:
            case SpanKind::UserCommand:
            case SpanKind::AliasDef: next.setTarget(rebased(next.target(), base.symbols)); break;
            case SpanKind::LabelRef:
            case SpanKind::LabelDynamic: next.setTarget(rebased(next.target(), base.references)); break;
            default: break;
        }
        *span++ = next;
    }
    model.symbols.resizeForOverwrite(base.symbols + more.symbols.size());
    std::copy(more.symbols.begin(), more.symbols.end(), model.symbols.data() + base.symbols);
}

// Joins a part to the whole: the big arrays two at a time, side by side.
void appendPass(FirstPass& into, FirstPass& part) {
    Model& model = into.model;
    Model& more = part.model;
    Bases base{model.lines.size(), model.spans.size(), model.statements.size(), model.symbols.size(),
               model.references.size()};
    nscr::runSideBySide(2, [&](std::size_t side) {
        if (side == 0) {
            appendLines(model, more, base);
            std::move(more.references.begin(), more.references.end(), std::back_inserter(model.references));
        } else {
            appendSpans(model, more, base);
        }
    });
    for (std::size_t k = 0; k < more.fileInfo.size(); ++k) {
        FileInfo& info = more.fileInfo[k];
        // A piece that goes on with the file before adds to its lines.
        if (k == 0 && part.continuesFile) {
            model.fileInfo.back().lineCount += info.lineCount;
            continue;
        }
        info.firstLine = rebased(info.firstLine, base.lines);
        model.fileInfo.push_back(info);
    }
    into.lastFile = part.lastFile;
    into.badBytes.insert(into.badBytes.end(), part.badBytes.begin(), part.badBytes.end());
    std::move(more.jumps.begin(), more.jumps.end(), std::back_inserter(model.jumps));
    std::move(more.findings.begin(), more.findings.end(), std::back_inserter(model.findings));
    std::size_t pendingBase = into.pending.size();
    into.pending.resizeForOverwrite(pendingBase + part.pending.size());
    PendingWord* word = into.pending.data() + pendingBase;
    for (PendingWord next : part.pending) {
        next.span = rebased(next.span, base.spans);
        if (next.role == PendingWord::Role::LabelWord) next.value = rebased(next.value, base.references);
        *word++ = next;
    }
    for (ValueStatement& value : part.values) {
        value.statement = rebased(value.statement, base.statements);
        value.symbol = rebased(value.symbol, base.symbols);
        into.values.push_back(value);
    }
    // Each part is let go once joined, so that the model is not held twice.
    part = FirstPass();
}

// An empty table for this many definitions, at most three quarters full.
void makeTable(nscr::BigArray<Model::KeySlot>& table, std::size_t count) {
    std::size_t size = 16;
    while (size * 3 < count * 4) size *= 2;
    table.resizeForOverwrite(size);
    std::fill(table.begin(), table.end(), Model::KeySlot());
}

// Definition k goes into its table, after any of the same key.
void indexDefinition(Model& model, std::uint32_t k) {
    Symbol& symbol = model.symbols[k];
    std::uint32_t hash = symbol.hash;
    nscr::BigArray<Model::KeySlot>& table = model.keyTables[Model::tableOf(symbol.kind, hash)];
    std::string_view name = model.nameOf(symbol);
    std::size_t mask = table.size() - 1;
    std::size_t at = hash & mask;
    while (table[at].first != none && (table[at].hash != hash || !sameName(table[at].key(), name))) at = (at + 1) & mask;
    Model::KeySlot& slot = table[at];
    if (slot.first == none) {
        slot = {hash, k, k, static_cast<std::uint32_t>(name.size()), name.data()};
    } else {
        Symbol& last = model.symbols[slot.last];
        last.nextOfKey = k;
        symbol.ordinal = last.ordinal + 1;
        slot.last = k;
    }
}

// Each definition learns the first and last of its key and how many there are.
void relateDefinitionsOfKeys(Model& model, const nscr::BigArray<Model::KeySlot>& table) {
    for (const Model::KeySlot& slot : table) {
        if (slot.first == none) continue;
        std::uint32_t count = model.symbols[slot.last].ordinal;
        for (std::uint32_t k = slot.first; k != none; k = model.symbols[k].nextOfKey) {
            model.symbols[k].firstOfKey = slot.first;
            model.symbols[k].lastOfKey = slot.last;
            model.symbols[k].definitionCount = count;
        }
    }
}

// Every name's definitions, in script order: made once the pieces are
// joined, so that each name is hashed once. Each definition learns the
// first and last of its key, how many there are and where it stands. Each
// processor fills the tables of one half of the hashes (Model::tableOf).
void indexDefinitions(Model& model) {
    std::array<std::size_t, 8> counts{};
    for (const Symbol& symbol : model.symbols) ++counts[Model::tableOf(symbol.kind, symbol.hash)];
    nscr::runSideBySide(2, [&](std::size_t side) {
        auto ours = [side](std::size_t table) { return table % 2 == side; };
        for (std::size_t table = 0; table < counts.size(); ++table)
            if (ours(table)) makeTable(model.keyTables[table], counts[table]);
        // Each definition's line is fetched a few definitions ahead: they
        // stand far apart.
        constexpr std::uint32_t ahead = 16;
        auto count = static_cast<std::uint32_t>(model.symbols.size());
        for (std::uint32_t k = 0; k < count; ++k) {
            if (k + ahead < count) model.fetchLine(model.symbols[k + ahead].pos);
            const Symbol& symbol = model.symbols[k];
            if (ours(Model::tableOf(symbol.kind, symbol.hash))) indexDefinition(model, k);
        }
        for (std::size_t table = 0; table < counts.size(); ++table)
            if (ours(table)) relateDefinitionsOfKeys(model, model.keyTables[table]);
    });
}

// The first line of each file in the engine's joined text: the engine ends
// every file with one more line end.
void numberEngineLines(Model& model) {
    std::uint64_t next = 1;
    for (std::size_t file = 0; file < model.files.size(); ++file) {
        std::string_view bytes = model.files[file].bytes;
        bool endsInLineEnd = !bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r');
        std::uint32_t lines = model.fileInfo[file].lineCount;
        model.fileInfo[file].firstEngineLine = next;
        next += lines + (endsInLineEnd || lines == 0 ? 1 : 0);
    }
}

// Files larger than this are cut into pieces of about this size.
constexpr std::size_t pieceBytes = 1u << 21;
constexpr std::size_t firstPieceBytes = 1u << 17;

// Where to cut a file near `at`: at a line start that no select list runs
// over (the line before does not end in "," and the line does not start
// with one); the file's end when there is none.
std::size_t cutNear(std::string_view bytes, std::size_t at) {
    for (std::size_t end = bytes.find('\n', at); end != std::string_view::npos; end = bytes.find('\n', end + 1)) {
        std::size_t start = end + 1;
        std::size_t before = end;
        while (before > 0 && (bytes[before - 1] == '\r' || isBlankByte(bytes[before - 1]))) --before;
        std::size_t after = skipBlanks(bytes, start);
        bool list = (before > 0 && bytes[before - 1] == ',') || (after < bytes.size() && bytes[after] == ',');
        if (!list && start < bytes.size()) return start;
    }
    return bytes.size();
}

// Whether bytes hold a *define label.
bool definesIn(std::string_view bytes) {
    for (std::size_t at = bytes.find('*'); at != std::string_view::npos; at = bytes.find('*', at + 1)) {
        std::size_t name = at;
        while (name < bytes.size() && (bytes[name] == '*' || isBlankByte(bytes[name]))) ++name;
        std::size_t end = wordEnd(bytes, name);
        if (end - name == 6 && sameName(bytes.substr(name, 6), "define")) return true;
    }
    return false;
}

// The pieces of every file: a game is many megabytes, with many labels.
std::vector<Piece> piecesOf(const std::vector<input::SourceFile>& files) {
    std::vector<Piece> pieces;
    for (std::uint32_t file = 0; file < files.size(); ++file) {
        std::string_view bytes = files[file].bytes;
        std::size_t begin = 0;
        do {
            // The first piece is read alone, before the others are read side
            // by side: it is kept short, to hold little more than the
            // definition block.
            std::size_t size = pieces.empty() ? firstPieceBytes : pieceBytes;
            std::size_t end = bytes.size() - begin > 2 * size ? cutNear(bytes, begin + size) : bytes.size();
            pieces.push_back({file, begin, end, 0, 0, begin != 0, end == bytes.size()});
            begin = end;
        } while (begin < bytes.size());
    }
    return pieces;
}

// Reads the first piece while the lines of every piece are counted and any
// *define is looked for, on every processor.
void readFirstAndCount(LineReader& reader, const std::vector<input::SourceFile>& files, std::vector<Piece>& pieces) {
    std::atomic<std::size_t> next{0};
    nscr::runSideBySide(std::min(nscr::processorCount(), pieces.size()), [&](std::size_t side) {
        if (side == 0) reader.readPiece(pieces[0]);
        for (std::size_t k; (k = next++) < pieces.size();) {
            Piece& piece = pieces[k];
            std::string_view bytes = std::string_view(files[piece.file].bytes).substr(piece.begin, piece.end - piece.begin);
            piece.lines = static_cast<std::uint32_t>(nscr::countLines(bytes));
            piece.defines = definesIn(bytes);
        }
    });
    for (std::size_t k = 1; k < pieces.size(); ++k)
        if (pieces[k].continues) pieces[k].firstLine = pieces[k - 1].firstLine + pieces[k - 1].lines;
}

// Whether a piece from `first` on has a *define label: then the pieces must
// be read in order, each starting where the one before left the block.
bool definesLater(const std::vector<Piece>& pieces, std::size_t first) {
    return std::any_of(pieces.begin() + static_cast<std::ptrdiff_t>(first), pieces.end(),
                       [](const Piece& piece) { return piece.defines; });
}

// Room for the references and definitions of this many bytes of script, so
// that they are not copied as they come and take huge pages: one of each in
// a few hundred bytes is usual; room not used is never touched.
void reserveNamesFor(Model& model, std::size_t bytes) {
    model.references.reserve(bytes / 128 + 16);
    model.symbols.reserve(bytes / 128 + 16);
}

// Room, taken before any is written so that it is all in huge pages, for
// the alias statements and the words this many bytes of script leave to
// the link step.
void reserveValuesFor(FirstPass& pass, std::size_t bytes) { pass.values.reserve(bytes / 128 + 16); }

void reservePendingFor(FirstPass& pass, std::size_t bytes) { pass.pending.reserve(bytes / 48 + 16); }

// Room for the lines and spans of this many bytes of script: most lines of
// real scripts are 30 to 60 bytes, with a few spans each.
void reserveFor(Model& model, std::size_t bytes) {
    model.lines.reserve(bytes / 32 + 16);
    model.spans.reserve(bytes / 12 + 16);
    model.statements.reserve(bytes / 40 + 16);
    reserveNamesFor(model, bytes);
}

// Cuts pieces[first...] into `count` runs of about equal bytes: the bounds,
// from `first` to the end.
std::vector<std::size_t> runsOf(const std::vector<Piece>& pieces, std::size_t first, std::size_t count) {
    std::size_t total = 0;
    for (std::size_t k = first; k < pieces.size(); ++k) total += pieces[k].end - pieces[k].begin;
    std::vector<std::size_t> bounds{first};
    std::size_t bytes = 0;
    // No run is empty: each bound is past the one before, and before the end.
    for (std::size_t k = first; k + 1 < pieces.size() && bounds.size() < count; ++k) {
        bytes += pieces[k].end - pieces[k].begin;
        if (bytes * count >= total * bounds.size()) bounds.push_back(k + 1);
    }
    bounds.push_back(pieces.size());
    return bounds;
}

// How many records of each large array a part holds, or has room for.
struct Counts {
    std::size_t lines = 0, spans = 0, statements = 0, pending = 0;
};

Counts countsOf(const FirstPass& pass) {
    return {pass.model.lines.size(), pass.model.spans.size(), pass.model.statements.size(), pass.pending.size()};
}

std::size_t bytesOf(const Piece& piece) { return piece.end - piece.begin; }

std::size_t bytesOf(const std::vector<Piece>& pieces, std::size_t begin, std::size_t end) {
    std::size_t bytes = 0;
    for (std::size_t k = begin; k < end; ++k) bytes += bytesOf(pieces[k]);
    return bytes;
}

// The first piece of each run is its sample, read before the run's room is
// lent: a large one is cut short, so that little is read into a part's own
// arrays and then copied.
void cutSamples(const std::vector<input::SourceFile>& files, std::vector<Piece>& pieces, std::vector<std::size_t>& runs) {
    constexpr std::size_t sampleBytes = 1u << 18;
    for (std::size_t r = runs.size() - 1; r-- > 0;) {
        Piece& piece = pieces[runs[r]];
        std::string_view bytes = files[piece.file].bytes;
        if (bytesOf(piece) <= 2 * sampleBytes) continue;
        std::size_t cut = cutNear(bytes.substr(0, piece.end), piece.begin + sampleBytes);
        if (cut >= piece.end) continue;
        Piece rest = piece;
        piece.end = cut;
        piece.last = false;
        piece.lines = static_cast<std::uint32_t>(nscr::countLines(bytes.substr(piece.begin, cut - piece.begin)));
        rest.begin = cut;
        rest.continues = true;
        rest.firstLine = piece.firstLine + piece.lines;
        rest.lines -= piece.lines;
        pieces.insert(pieces.begin() + static_cast<std::ptrdiff_t>(runs[r] + 1), rest);
        for (std::size_t later = r + 1; later < runs.size(); ++later) ++runs[later];
    }
}

// Room for the records of a run, guessed from those of its first piece, with
// a third more: its lines are known.
Counts roomFor(const Counts& first, const std::vector<Piece>& pieces, std::size_t begin, std::size_t end) {
    std::size_t bytes = bytesOf(pieces, begin, end), lines = 0;
    for (std::size_t k = begin; k < end; ++k) lines += pieces[k].lines;
    std::size_t sample = std::max<std::size_t>(bytesOf(pieces[begin]), 1);
    auto guess = [&](std::size_t records) { return records * bytes / sample * 4 / 3 + 4096; };
    return {lines + 16, guess(first.spans), guess(first.statements), guess(first.pending)};
}

template <typename T>
void lend(nscr::BigArray<T>& part, nscr::BigArray<T>& whole, std::size_t at, std::size_t room) {
    nscr::BigArray<T> lent = nscr::BigArray<T>::borrow(whole, at, room);
    lent.resizeForOverwrite(part.size());
    std::copy(part.begin(), part.end(), lent.begin());
    part = std::move(lent);
}

// Room in the whole's large arrays for every run: run 0 reads on into the
// whole itself, up to the room guessed for it; each later run's part is lent
// room after the room of the run before, and what its sample read moves
// there. Joining them (appendPass) then moves each record a little way
// within memory already written, or not at all.
void lendRoom(FirstPass& pass, const Counts& base, std::vector<FirstPass>& parts, const std::vector<Counts>& room) {
    Counts at = base;
    for (const Counts& r : room) {
        at.lines += r.lines;
        at.spans += r.spans;
        at.statements += r.statements;
        at.pending += r.pending;
    }
    pass.model.lines.reserve(at.lines);
    pass.model.spans.reserve(at.spans);
    pass.model.statements.reserve(at.statements);
    pass.pending.reserve(at.pending);
    at = base;
    for (std::size_t r = 0; r < parts.size(); ++r) {
        if (r != 0) {
            lend(parts[r].model.lines, pass.model.lines, at.lines, room[r].lines);
            lend(parts[r].model.spans, pass.model.spans, at.spans, room[r].spans);
            lend(parts[r].model.statements, pass.model.statements, at.statements, room[r].statements);
            lend(parts[r].pending, pass.pending, at.pending, room[r].pending);
        }
        at.lines += room[r].lines;
        at.spans += room[r].spans;
        at.statements += room[r].statements;
        at.pending += room[r].pending;
    }
}

// Holds the whole's large arrays to run 0's room while the runs are read
// side by side: going past it raises RoomExhausted, as a part's lent room
// does. The arrays are given back, with what was read into them, by release().
class HeldToRoom {
public:
    HeldToRoom(FirstPass& pass, const Counts& base, const Counts& room) : pass_(pass) {
        hold(pass.model.lines, lines_, base.lines + room.lines);
        hold(pass.model.spans, spans_, base.spans + room.spans);
        hold(pass.model.statements, statements_, base.statements + room.statements);
        hold(pass.pending, pending_, base.pending + room.pending);
    }
    HeldToRoom(const HeldToRoom&) = delete;
    HeldToRoom& operator=(const HeldToRoom&) = delete;
    ~HeldToRoom() { release(); }

    void release() {
        if (released_) return;
        released_ = true;
        unhold(pass_.model.lines, lines_);
        unhold(pass_.model.spans, spans_);
        unhold(pass_.model.statements, statements_);
        unhold(pass_.pending, pending_);
    }

private:
    template <typename T>
    static void hold(nscr::BigArray<T>& whole, nscr::BigArray<T>& owned, std::size_t limit) {
        nscr::BigArray<T> window = nscr::BigArray<T>::borrow(whole, 0, limit);
        window.resizeForOverwrite(whole.size());
        owned = std::move(whole);
        whole = std::move(window);
    }
    template <typename T>
    static void unhold(nscr::BigArray<T>& whole, nscr::BigArray<T>& owned) {
        owned.resizeForOverwrite(whole.size());
        whole = std::move(owned);
    }

    FirstPass& pass_;
    nscr::BigArray<Line> lines_;
    nscr::BigArray<Span> spans_;
    nscr::BigArray<Statement> statements_;
    nscr::BigArray<PendingWord> pending_;
    bool released_ = false;
};

// How many records the whole holds of each kind: what it goes back to when
// run 0, read into it, outgrows its room and is read again.
struct Held {
    Counts big;
    std::size_t symbols, references, jumps, findings, files, values, badBytes;
    std::uint32_t lastFileLines;  // a piece going on with the last file adds its lines there
    std::uint32_t lastFile;
    bool continuesFile;
};

Held heldBy(const FirstPass& pass) {
    const Model& m = pass.model;
    return {countsOf(pass),   m.symbols.size(),  m.references.size(),
            m.jumps.size(),   m.findings.size(), m.fileInfo.size(),
            pass.values.size(), pass.badBytes.size(), m.fileInfo.empty() ? 0 : m.fileInfo.back().lineCount,
            pass.lastFile,    pass.continuesFile};
}

template <typename Array>
void shortenTo(Array& array, std::size_t size) {
    array.erase(array.begin() + static_cast<std::ptrdiff_t>(size), array.end());
}

void goBackTo(FirstPass& pass, const Held& held) {
    Model& m = pass.model;
    m.lines.resizeForOverwrite(held.big.lines);
    m.spans.resizeForOverwrite(held.big.spans);
    m.statements.resizeForOverwrite(held.big.statements);
    pass.pending.resizeForOverwrite(held.big.pending);
    m.symbols.resizeForOverwrite(held.symbols);
    shortenTo(m.references, held.references);
    shortenTo(m.jumps, held.jumps);
    shortenTo(m.findings, held.findings);
    shortenTo(m.fileInfo, held.files);
    if (!m.fileInfo.empty()) m.fileInfo.back().lineCount = held.lastFileLines;
    pass.values.resizeForOverwrite(held.values);
    shortenTo(pass.badBytes, held.badBytes);
    pass.lastFile = held.lastFile;
    pass.continuesFile = held.continuesFile;
}

// Joins the parts to the whole in order, with room made first for what they
// bring that is not lent, so that each of those is copied once.
void joinParts(FirstPass& pass, std::vector<FirstPass>& parts) {
    std::size_t symbols = pass.model.symbols.size(), references = pass.model.references.size();
    std::size_t values = pass.values.size();
    for (const FirstPass& part : parts) {
        symbols += part.model.symbols.size();
        references += part.model.references.size();
        values += part.values.size();
    }
    pass.model.symbols.reserve(symbols);
    pass.model.references.reserve(references);
    pass.values.reserve(values);
    for (FirstPass& part : parts) appendPass(pass, part);
}

// The runs of pieces read side by side: run 0 by the reader of the whole,
// into the whole; each later run by a reader of its own, into a part.
class SideBySide {
public:
    SideBySide(FirstPass& pass, LineReader& reader, const std::vector<Piece>& pieces, std::vector<std::size_t> runs)
        : pass_(pass), files_(pass.model.files), reader_(reader), pieces_(pieces), runs_(std::move(runs)),
          count_(runs_.size() - 1), start_(reader.state()), before_(heldBy(pass)), parts_(count_), readers_(count_),
          room_(count_), outgrown_(count_, 0) {}

    void read() {
        readSamples();
        lendRoom(pass_, before_.big, parts_, room_);
        readOn();
        readAgain();
        parts_.erase(parts_.begin());  // run 0's stayed empty
        joinParts(pass_, parts_);
    }

private:
    // Each run's first piece, and the room its records suggest for the run.
    void readSamples() {
        nscr::runSideBySide(count_, [&](std::size_t r) {
            if (r != 0) startPart(r, bytesOf(pieces_[runs_[r]]), bytesOf(pieces_, runs_[r], runs_[r + 1]));
            readerOf(r).readPiece(pieces_[runs_[r]]);
        });
        for (std::size_t r = 0; r < count_; ++r) {
            Counts sample = countsOf(r == 0 ? pass_ : parts_[r]);
            if (r == 0)
                sample = {sample.lines - before_.big.lines, sample.spans - before_.big.spans,
                          sample.statements - before_.big.statements, sample.pending - before_.big.pending};
            room_[r] = roomFor(sample, pieces_, runs_[r], runs_[r + 1]);
        }
    }

    // The rest of each run, in the room it was given.
    void readOn() {
        HeldToRoom held(pass_, before_.big, room_[0]);
        nscr::runSideBySide(count_, [&](std::size_t r) {
            try {
                for (std::size_t k = runs_[r] + 1; k < runs_[r + 1]; ++k) readerOf(r).readPiece(pieces_[k]);
            } catch (const nscr::RoomExhausted&) {
                outgrown_[r] = 1;
            }
        });
    }

    // A run that outgrew its room is read again, and the runs after it, each
    // into a part of its own; run 0 into the whole, which it takes back first.
    void readAgain() {
        auto again = static_cast<std::size_t>(std::find(outgrown_.begin(), outgrown_.end(), 1) - outgrown_.begin());
        if (again == count_) return;
        if (again == 0) goBackTo(pass_, before_);
        nscr::runSideBySide(count_ - again, [&](std::size_t k) {
            std::size_t r = again + k;
            if (r == 0) {
                readers_[0] = std::make_unique<LineReader>(pass_, files_);
                readers_[0]->setState(start_);
            } else {
                startPart(r, bytesOf(pieces_, runs_[r], runs_[r + 1]), bytesOf(pieces_, runs_[r], runs_[r + 1]));
            }
            for (std::size_t p = runs_[r]; p < runs_[r + 1]; ++p) readers_[r]->readPiece(pieces_[p]);
        });
    }

    // A part for run r, with room for the lines of its first `bytes` and for
    // the names and alias statements of all the run's: those stay in the
    // part, while its lines go to room lent by the whole.
    void startPart(std::size_t r, std::size_t bytes, std::size_t runBytes) {
        parts_[r] = FirstPass();
        parts_[r].checkEncodings = pass_.checkEncodings;
        parts_[r].commands = pass_.commands;
        parts_[r].textDetail = pass_.textDetail;
        reserveFor(parts_[r].model, bytes);
        reserveNamesFor(parts_[r].model, runBytes);
        reserveValuesFor(parts_[r], runBytes);
        readers_[r] = std::make_unique<LineReader>(parts_[r], files_);
        readers_[r]->setState(start_);
    }

    LineReader& readerOf(std::size_t r) { return r == 0 ? reader_ : *readers_[r]; }

    FirstPass& pass_;
    const std::vector<input::SourceFile>& files_;
    LineReader& reader_;
    const std::vector<Piece>& pieces_;
    std::vector<std::size_t> runs_;
    std::size_t count_;
    LineReader::BlockState start_;
    Held before_;  // what the whole holds before the runs
    std::vector<FirstPass> parts_;
    std::vector<std::unique_ptr<LineReader>> readers_;
    std::vector<Counts> room_;
    std::vector<char> outgrown_;
};

// The pieces one after another until the definition block is closed; then,
// when no later piece opens one, the others side by side, in one run of
// pieces a processor, each into a part of its own. Once every run has read
// its first piece, the parts are given room in the whole's arrays for what
// their first pieces suggest, and read on there; a run that outgrows its
// room, and those after it, are read again into parts of their own.
void readFiles(FirstPass& pass) {
    const std::vector<input::SourceFile>& files = pass.model.files;
    std::vector<Piece> pieces = piecesOf(files);
    LineReader reader(pass, files);
    if (pieces.empty()) return;
    readFirstAndCount(reader, files, pieces);
    std::size_t next = 1;
    while (next < pieces.size() && (reader.state().inDefineBlock || reader.state().inJumpRegion))
        reader.readPiece(pieces[next++]);
    std::vector<std::size_t> runs;
    if (!definesLater(pieces, next)) runs = runsOf(pieces, next, std::min(nscr::processorCount(), pieces.size() - next));
    if (runs.size() < 3) {
        while (next < pieces.size()) reader.readPiece(pieces[next++]);
        return;
    }
    cutSamples(files, pieces, runs);
    SideBySide(pass, reader, pieces, std::move(runs)).read();
}

}  // namespace

FirstPass readLines(std::vector<input::SourceFile> files, const CommandSet& commands, bool checkEncodings,
                    TextDetail detail) {
    FirstPass pass;
    pass.commands = &commands;
    pass.textDetail = detail;
    pass.model.files = std::move(files);
    std::size_t bytes = 0;
    for (const input::SourceFile& file : pass.model.files) bytes += file.bytes.size();
    reserveFor(pass.model, bytes);
    reserveValuesFor(pass, bytes);
    reservePendingFor(pass, bytes);
    pass.checkEncodings = checkEncodings;
    readFiles(pass);
    // A span names its definition or reference in 27 bits.
    if (std::max(pass.model.symbols.size(), pass.model.references.size()) > Span::largestTarget)
        throw nscr::Error("more than " + std::to_string(Span::largestTarget) +
                          " definitions or label references: too many for one run");
    numberEngineLines(pass.model);
    indexDefinitions(pass.model);
    // The first bad bytes of each file: pieces were read in order.
    pass.model.badBytes.resize(pass.model.files.size());
    for (const auto& [file, bad] : pass.badBytes)
        if (!pass.model.badBytes[file]) pass.model.badBytes[file] = bad;
    return pass;
}

}  // namespace analysis
