#pragma once

// What each engine makes of a game folder: which files it looks for and in
// which order, their encodings, and which of two definitions of one name it
// keeps.

#include <optional>
#include <span>
#include <string_view>

#include "input/source_file.h"

namespace input {

// The engine used when none is named: it reads the most kinds of files.
inline constexpr Engine defaultEngine = Engine::ONScripterEN;

// "nscripter", "onscripter", "onscripter-en", "ponscripter", "onscripter-ru",
// "onscripter-jh"; nothing for any other name.
std::optional<Engine> engineNamed(std::string_view name);
std::string_view engineName(Engine engine);

// How a game's script is stored.
enum class ScriptKind : std::uint8_t {
    Numbered,      // 0.txt, 1.txt ... (or 00.txt ..., or the .utf family), joined in number order
    XorDat,        // nscript.dat / pscript.dat: every byte XOR 0x84
    XorKeyDat,     // nscr_sec.dat: XOR the repeating key 79 57 0D 80 04
    TableDat,      // nscript.___ / pscript.___: needs a table from the game's executable
    UnknownDat,    // a kind whose encoding this program does not know
    Packed,        // a packed release file, not a text format
};

// One name the engine looks for when it opens a game. The first one found
// decides how the whole game is read.
struct FirstFile {
    std::string_view name;       // "0.txt", "nscript.dat" ...
    ScriptKind kind;
    std::string_view extension;  // Numbered: ".txt", ".utf" or ".utf.txt"
    bool utf8;                   // the kind is UTF-8 whatever the engine's text encoding
};

struct EngineProfile {
    Engine engine;
    std::string_view name;
    std::span<const FirstFile> searchOrder;
    bool readsUtf;            // looks for the .utf family
    Encoding textEncoding;    // of .txt files and the CP932-kind .dat files
    bool stripsBom;           // drops a UTF-8 BOM at the start of each file
    bool twoDigitNames;       // tries 01.txt where 1.txt is missing
    bool stopsAtGap;          // numbered files end at the first missing number or empty file
    DuplicateRule labels;     // which of two labels of one name is used
    DuplicateRule aliases;    // which of two aliases (numalias, stralias) of one name is used
};

const EngineProfile& profileOf(Engine engine);

}  // namespace input
