#include "input/engine_profile.h"

#include <array>

namespace input {
namespace {

constexpr FirstFile txt0{"0.txt", ScriptKind::Numbered, ".txt", false};
constexpr FirstFile txt00{"00.txt", ScriptKind::Numbered, ".txt", false};
constexpr FirstFile utf0{"0.utf", ScriptKind::Numbered, ".utf", true};
constexpr FirstFile utfTxt0{"0.utf.txt", ScriptKind::Numbered, ".utf.txt", true};
constexpr FirstFile utf00{"00.utf", ScriptKind::Numbered, ".utf", true};
constexpr FirstFile utfTxt00{"00.utf.txt", ScriptKind::Numbered, ".utf.txt", true};
constexpr FirstFile nscrSec{"nscr_sec.dat", ScriptKind::XorKeyDat, "", false};
// Its encoding is not known to this program; nothing is guessed.
constexpr FirstFile pscrSec{"pscr_sec.dat", ScriptKind::UnknownDat, "", true};
constexpr FirstFile nscriptTable{"nscript.___", ScriptKind::TableDat, "", false};
constexpr FirstFile pscriptTable{"pscript.___", ScriptKind::TableDat, "", true};
constexpr FirstFile nscriptDat{"nscript.dat", ScriptKind::XorDat, "", false};
constexpr FirstFile pscriptDat{"pscript.dat", ScriptKind::XorDat, "", true};
constexpr FirstFile scriptFile{"script.file", ScriptKind::Packed, "", false};

// NScripter documents only 00.txt ... 99.txt and nscript.dat; it is given
// the order of ONScripter less the UTF-8 pscript.dat, which it never had.
constexpr std::array nscripterOrder{txt0, txt00, nscrSec, nscriptTable, nscriptDat};
constexpr std::array onscripterOrder{txt0, txt00, nscrSec, nscriptTable, nscriptDat, pscriptDat};
constexpr std::array onscripterEnUtfOrder{txt0,    txt00,   utf0,         utfTxt0,    utf00,
                                          utfTxt00, nscrSec, nscriptTable, nscriptDat, pscriptDat};
constexpr std::array ponscripterOrder{txt0,         utf0,         txt00,      utf00,     nscrSec,
                                      pscrSec,      nscriptTable, pscriptTable, nscriptDat, pscriptDat};
// Development builds read numbered text; release builds one packed file.
constexpr std::array onscripterRuOrder{txt0, scriptFile};

const std::array<EngineProfile, 6> profiles{{
    // NScripter's own rule for duplicates is not known here: the first
    // definition is taken, as the reader of a script meets it first.
    {Engine::NScripter, "nscripter", nscripterOrder, false, Encoding::CP932, false, true, false,
     DuplicateRule::First, DuplicateRule::First},
    {Engine::ONScripter, "onscripter", onscripterOrder, false, Encoding::CP932, false, true, false,
     DuplicateRule::Last, DuplicateRule::First},
    {Engine::ONScripterEN, "onscripter-en", onscripterEnUtfOrder, true, Encoding::CP932, false, true, false,
     DuplicateRule::First, DuplicateRule::First},
    {Engine::Ponscripter, "ponscripter", ponscripterOrder, true, Encoding::CP932, true, true, false,
     DuplicateRule::Last, DuplicateRule::Last},
    {Engine::ONScripterRU, "onscripter-ru", onscripterRuOrder, false, Encoding::CP932, false, false, true,
     DuplicateRule::Refuse, DuplicateRule::First},
    // A fork of ONScripter whose script encoding defaults to GBK.
    {Engine::ONScripterJH, "onscripter-jh", onscripterOrder, false, Encoding::GBK, false, true, false,
     DuplicateRule::Last, DuplicateRule::First},
}};

}  // namespace

std::optional<Engine> engineNamed(std::string_view name) {
    for (const EngineProfile& profile : profiles)
        if (profile.name == name) return profile.engine;
    return std::nullopt;
}

std::string_view engineName(Engine engine) { return profileOf(engine).name; }

const EngineProfile& profileOf(Engine engine) {
    for (const EngineProfile& profile : profiles)
        if (profile.engine == engine) return profile;
    return profiles[2];
}

}  // namespace input
