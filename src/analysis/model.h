#pragma once

// The model of a script or a game as the engine reads it: its files in load
// order, their lines cut into statements and meaningful pieces, and the
// names the script defines (labels, user commands, aliases) with every place
// that refers to them. Built once per run by analyze(); the page writers, the
// front page and the checker only read it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/command_set.h"
#include "input/encoding_check.h"
#include "input/source_file.h"
#include "nscr/big_array.h"
#include "nscr/huge_page_allocator.h"

namespace analysis {

inline constexpr std::uint32_t none = 0xFFFFFFFFu;

// A place in one file: line and byte column count from 0.
struct Pos {
    std::uint32_t file = 0;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    bool operator==(const Pos&) const = default;
};

enum class LineKind : std::uint8_t { Blank, Comment, Label, Command, Text };

// What a piece of a line means. Pieces are kept only where a reader has
// something to show or check; the bytes between them are plain.
enum class SpanKind : std::uint8_t {
    Comment,         // from ";" to the end of the line
    LabelDef,        // "*name" heading a label line; target: the symbol
    LabelRef,        // a label argument "*name" or "\"*name\""; target: the reference
    LabelDynamic,    // a label argument held in a variable or a string alias; target: the reference
    Command,         // a built-in command word; target: its CommandSet::Block
    UserCommand,     // the word of a user command (defsub), and the name after defsub; target: the symbol
    UnknownCommand,  // a command word nobody defines
    AliasDef,        // the name a numalias or stralias defines; target: the symbol
    AliasUse,        // a use of an alias name; target: the symbol, or none when undefined
    String,          // a string literal
    Number,          // a number
    NumVar,          // %N, %%N
    StrVar,          // $N
    ArrayVar,        // ?N
    Color,           // #rrggbb
    Text,            // text the engine shows, on a line that is not a text line
    TextCode,        // a text code: @ \ / !wN #rrggbb ~i~ and the like
    Ruby,            // (base/ruby) in text
    TextButton,      // <N text> in text
    Tag,             // [tag] in text
    JumpTarget,      // a "~" that starts a statement
    Word,            // a bare word of no known meaning
};

// Twelve bytes: a game has millions. The kind and target share a word.
struct Span {
    // Targets go up to this; a run with more names or references is refused.
    static constexpr std::uint32_t largestTarget = (1u << 27) - 2;

    Span() = default;
    Span(std::uint32_t begin, std::uint32_t end, SpanKind kind, std::uint32_t target = none)
        : begin(begin), end(end), kindAndTarget_(packed(kind, target)) {}

    std::uint32_t begin = 0;  // byte columns in the line
    std::uint32_t end = 0;
    SpanKind kind() const { return static_cast<SpanKind>(kindAndTarget_ >> 27); }
    // See SpanKind; none when there is none.
    std::uint32_t target() const {
        std::uint32_t target = kindAndTarget_ & targetBits;
        return target == targetBits ? none : target;
    }
    void setKind(SpanKind kind) { kindAndTarget_ = packed(kind, target()); }
    void setTarget(std::uint32_t target) { kindAndTarget_ = packed(kind(), target); }

private:
    static constexpr std::uint32_t targetBits = (1u << 27) - 1;
    static std::uint32_t packed(SpanKind kind, std::uint32_t target) {
        return static_cast<std::uint32_t>(kind) << 27 | (target == none ? targetBits : target);
    }
    std::uint32_t kindAndTarget_ = packed(SpanKind::Word, none);
};
static_assert(sizeof(Span) == 12);
static_assert(static_cast<std::uint32_t>(SpanKind::Word) < 32, "a span's kind takes 5 bits");

// Sixteen bytes: a game has hundreds of thousands. Files are read up to
// 1 GiB (nscr::largestReadableFile), so offsets in one take 32 bits.
// A text line's bytes that no span covers are text from its first
// non-blank on (textStart).
struct Line {
    std::uint32_t offset = 0;  // of the line's first byte in its file
    std::uint32_t length = 0;  // without the line end
    std::uint32_t firstSpan = 0;
    LineKind kind = LineKind::Blank;
    bool inDefineBlock = false;  // after *define and before game
};

// A statement: a command and its arguments, cut at ":" outside strings.
struct Statement {
    std::uint32_t line = 0;  // global index into Model::lines
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    std::uint32_t commandSpan = none;  // global index into Model::spans
    bool inDefineBlock = false;
    // The command word as it was read: a built-in of the definition block,
    // or no built-in at all. A user command of its name may yet take it
    // over; its span says what it is in the end. For finding the few such
    // statements without looking at every span.
    bool definitionCommand = false;
    bool unknownCommand = false;
};
static_assert(sizeof(Statement) == 20);

enum class SymbolKind : std::uint8_t { Label, UserCommand, NumAlias, StrAlias };

// A definition. Its name and value are places in its line, not copies: a
// script of nothing but labels stays small (Model::nameOf, keyOf, valueOf).
struct Symbol {
    Pos pos;                       // of the name
    std::uint32_t length = 0;      // of the name as written, in bytes
    std::uint32_t hash = 0;        // nameHash of the name
    std::uint32_t ordinal = 1;     // 1 for the first definition of its key and kind, 2 for the next...
    std::uint32_t valueColumn = 0;  // an alias's value as written: where it stands in the line...
    std::uint32_t valueLength = 0;  // ...and its bytes
    std::optional<std::int64_t> number;  // a numeric alias's value where it is known
    SymbolKind kind = SymbolKind::Label;
    bool alternative = false;      // defined between a jumpf and its "~": a choice made at run time
    std::uint8_t usedAs = 0;       // bits of VariableUse: how the alias names variables
    // The definitions of the same kind and key: the first, the last and how many.
    std::uint32_t firstOfKey = none;
    std::uint32_t lastOfKey = none;
    std::uint32_t definitionCount = 1;
    std::uint32_t nextOfKey = none;  // the next definition of the same kind and key
    std::uint32_t label = none;    // a user command's label (its first definition), none when missing
};

enum VariableUse : std::uint8_t { UsedAsNumber = 1, UsedAsString = 2, UsedAsArray = 4 };

enum class RefKind : std::uint8_t {
    Jump,      // goto, tablegoto, select... and the commands that jump
    Call,      // gosub, a user command, textgosub...
    Implicit,  // defsub name, game, reset, csel: a label the engine goes to by itself
    Check,     // lchk, labelexist: asks whether the label exists
};

// A label argument, or a label the engine goes to by itself.
struct Reference {
    Pos pos;
    std::uint32_t length = 0;
    RefKind kind = RefKind::Jump;
    std::string key;           // the label's name in lower case; empty when dynamic
    std::uint32_t hash = 0;    // nameHash of the key
    std::string command;       // the command that takes it, as written
    std::uint32_t symbol = none;  // the label it goes to (the first definition), none when undefined
    bool dynamic = false;      // held in a variable or a string alias
    bool badForm = false;      // a string without "*" ("start" names *tart) or some other form
};

enum class JumpKind : std::uint8_t { Forward, Back, Skip };

// Where the byte that a "~" jump reaches stands.
enum class TildeSite : std::uint8_t { Command, Comment, String, Text, TrailByte, Missing };

struct Jump {
    Pos from;             // the command word
    std::uint32_t length = 0;
    JumpKind kind = JumpKind::Forward;
    std::string command;
    Pos to;               // the "~" (Forward, Back) or the line's start (Skip)
    TildeSite site = TildeSite::Missing;
};

// A place the analysis found that the engine may not read as the author meant.
struct Finding {
    Pos pos;
    std::string id;       // a check id
    std::string message;
};

struct FileInfo {
    std::uint32_t firstLine = 0;         // global index into Model::lines
    std::uint32_t lineCount = 0;         // lines of the file itself
    std::uint64_t firstEngineLine = 1;   // 1-based line in the engine's joined text
};

class Model {
public:
    std::vector<input::SourceFile> files;
    std::vector<FileInfo> fileInfo;
    nscr::BigArray<Line> lines;  // every file's lines, file after file
    nscr::BigArray<Span> spans;
    nscr::BigArray<Statement> statements;
    nscr::BigArray<Symbol> symbols;
    std::vector<Reference, nscr::HugePageAllocator<Reference>> references;
    std::vector<Jump> jumps;
    std::vector<Finding> findings;  // what analysis itself noticed (unterminated strings...)
    // Per file, where its bytes first break its encoding, when asked for.
    std::vector<std::optional<input::BadBytes>> badBytes;
    // Per symbol, the references that go to its key (labels only): indices
    // into references, in order, as ranges of refsByLabel.
    std::vector<std::uint32_t> refsByLabel;
    std::vector<std::uint32_t> refsStart;  // size symbols.size() + 1
    // The spans of the alias uses (%name, $name, ?name) whose name no alias
    // defines, in script order.
    std::vector<std::uint32_t> undefinedAliasUses;

    std::uint32_t lineIndex(std::uint32_t file, std::uint32_t line) const { return fileInfo[file].firstLine + line; }
    const Line& line(std::uint32_t file, std::uint32_t line) const { return lines[lineIndex(file, line)]; }
    std::string_view lineText(std::uint32_t file, std::uint32_t line) const;
    // A definition's name as written, in lower case, and its value as written.
    std::string_view nameOf(const Symbol& symbol) const {
        return lineText(symbol.pos.file, symbol.pos.line).substr(symbol.pos.column, symbol.length);
    }
    std::string keyOf(const Symbol& symbol) const;
    std::string_view valueOf(const Symbol& symbol) const {
        return lineText(symbol.pos.file, symbol.pos.line).substr(symbol.valueColumn, symbol.valueLength);
    }
    // The spans of a line given by its global index.
    std::pair<const Span*, const Span*> spansOf(std::uint32_t globalLine) const;
    // Where a text line's text starts, its first non-blank; the line's
    // length for any other line.
    std::uint32_t textStart(std::uint32_t file, std::uint32_t line) const;
    static std::uint32_t textStart(const Line& line, std::string_view text);
    // The first definition of a name of a kind (labels; user commands; both
    // alias kinds for NumAlias), or none.
    std::uint32_t find(SymbolKind kind, std::string_view key) const;
    std::uint32_t find(SymbolKind kind, std::string_view key, std::uint32_t hash) const;
    // Whether a name of this nameHash may be defined as a kind: false when
    // no definition of the kind has the hash, without reading any name.
    bool mayName(SymbolKind kind, std::uint32_t hash) const;
    // All definitions of a key, in order.
    std::vector<std::uint32_t> definitionsOf(SymbolKind kind, std::string_view key) const;
    // The references to a label symbol's key.
    std::pair<const std::uint32_t*, const std::uint32_t*> referencesTo(std::uint32_t symbol) const;
    std::uint32_t fileOfLine(std::uint32_t globalLine) const;
    // The line (global index) that holds a span.
    std::uint32_t lineOfSpan(std::uint32_t span) const;
    std::uint64_t engineLine(const Pos& pos) const { return fileInfo[pos.file].firstEngineLine + pos.line; }
    // Ask for a place's line, or once that is at hand its bytes, to be
    // brought into the caches: for walks over definitions or references,
    // which stand far apart, a few items ahead.
    void fetchLine(const Pos& pos) const { __builtin_prefetch(&line(pos.file, pos.line)); }
    void fetchBytes(const Pos& pos) const {
        __builtin_prefetch(files[pos.file].bytes.data() + line(pos.file, pos.line).offset + pos.column);
    }

    // A numeric alias of the key, else a string alias, else none.
    std::uint32_t findAlias(std::string_view key) const;
    std::uint32_t findAlias(std::string_view key, std::uint32_t hash) const;

    // Per symbol kind, two tables of every key's first and last definition,
    // open addressed: one for the hashes with their top bit clear and one
    // for the others (tableOf), so that two processors fill them side by
    // side. The definitions between are chained by nextOfKey. The slot
    // holds the name's bytes in the files too, so that a lookup reads them
    // alone: the model is moved, never copied, and its files stay as they
    // are.
    struct KeySlot {
        std::uint32_t hash = 0;
        std::uint32_t first = none;
        std::uint32_t last = none;
        std::uint32_t length = 0;
        const char* name = nullptr;
        std::string_view key() const { return {name, length}; }
    };
    static constexpr std::size_t tableOf(SymbolKind kind, std::uint32_t hash) {
        return static_cast<std::size_t>(kind) * 2 + (hash >> 31);
    }
    std::array<nscr::BigArray<KeySlot>, 8> keyTables;
};

// The names of a symbol kind, for messages and tooltips ("label", "user command"...).
std::string_view symbolKindName(SymbolKind kind);

// How much of a text line the model keeps: its codes, for the pages that
// show them, or only the %name and $name that may be aliases, for the
// checks, which read no other code of a text line.
enum class TextDetail : std::uint8_t { Codes, AliasesOnly };

// Builds the model of the files, read as one game in the given order. With
// checkEncodings, the bytes of every file are checked against its encoding
// as its lines are read (Model::badBytes).
Model analyze(std::vector<input::SourceFile> files, const CommandSet& commands, bool checkEncodings = false,
              TextDetail detail = TextDetail::Codes);

}  // namespace analysis
