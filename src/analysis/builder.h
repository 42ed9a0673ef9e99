#pragma once

// The analysis's first pass, over the lines of every file in load order, and
// what it leaves for the link step: words whose meaning depends on names
// defined anywhere in the game.

#include <cstdint>
#include <vector>

#include "analysis/characters.h"
#include "analysis/model.h"

namespace analysis {

// A word whose meaning the link step decides, once every name is known. A
// command word is taken for a built-in or unknown as it is read; the link
// step only looks at the words a user command may be.
struct PendingWord {
    enum class Role : std::uint8_t {
        CommandWord,   // the first word of a statement
        Argument,      // a bare word as an argument
        NumberAlias,   // %name
        StringAlias,   // $name
        ArrayAlias,    // ?name
        TextNumber,    // %name in text: an alias, or just text
        TextString,    // $name in text
        LabelWord,     // a bare word where a label belongs
    };
    std::uint32_t span = 0;  // its span; the name is the span's bytes past any sigil
    Role role = Role::Argument;
    // LabelWord: the reference it stands for; any other: the nameHash of
    // its name, taken while its bytes are at hand, so that the link step
    // reads a name only where a definition has its hash.
    std::uint32_t value = none;
};

// A pending word's name: its span's bytes past any sigil.
inline std::string_view pendingName(std::string_view bytes) {
    while (!bytes.empty() && !isWordHead(bytes.front())) bytes.remove_prefix(1);
    return bytes;
}

// A numalias, mov, inc, dec, add or sub statement of the definition block,
// kept for working out the aliases' values in order.
struct ValueStatement {
    std::uint32_t statement = 0;
    std::uint32_t symbol = none;  // the alias a numalias defines
    const char* text = nullptr;   // from the statement's start to its line's end, in the model's files
    std::uint32_t length = 0;
};

struct FirstPass {
    Model model;
    nscr::BigArray<PendingWord> pending;
    nscr::BigArray<ValueStatement> values;
    // Pieces of one file may be read apart: the file of the last piece read,
    // and whether the first piece went on with a file begun elsewhere.
    std::uint32_t lastFile = none;
    bool continuesFile = false;
    bool checkEncodings = false;
    const CommandSet* commands = nullptr;  // the engine's built-in commands
    TextDetail textDetail = TextDetail::Codes;
    // The first bytes of a piece not valid in its file's encoding, by file.
    std::vector<std::pair<std::uint32_t, input::BadBytes>> badBytes;
};

// Cuts and classifies every line; definitions become symbols at once.
FirstPass readLines(std::vector<input::SourceFile> files, const CommandSet& commands, bool checkEncodings,
                    TextDetail detail = TextDetail::Codes);

// Decides the pending words, resolves references, jumps and alias values.
void link(FirstPass& pass);

// Works out the numbers of the numeric aliases from the definition block's
// statements, as the engine evaluates them when it runs the block.
void evaluateAliases(Model& model, const nscr::BigArray<ValueStatement>& values);

// Finds where each jumpf, jumpb and skip lands.
void resolveJumps(Model& model);

}  // namespace analysis
