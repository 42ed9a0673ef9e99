#pragma once

// A game folder read as an engine reads it: which script files, in which
// order, decoded and in which encoding; the script files it leaves aside,
// and why; and what went wrong on the way.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "input/engine_profile.h"
#include "input/source_file.h"

namespace input {

enum class Severity : std::uint8_t { Warning, Error };

// A message about a file (or the folder). line and column are 1-based, 0
// when the message is about the file as a whole.
struct Diagnostic {
    std::string file;
    std::size_t line = 0;
    std::size_t column = 0;
    std::string message;
    Severity severity = Severity::Error;
};

// "FILE:LINE:COL: error: message", or "FILE: warning: message" without a place.
std::string formatDiagnostic(const Diagnostic& diagnostic);

// A script file in the folder that the engine does not read.
struct SkippedFile {
    std::string path;
    std::string name;
    std::string reason;  // "shadowed by 0.txt", ...
};

struct GameLoad {
    Engine engine = defaultEngine;
    std::string folder;
    // The files the engine reads, in its order. The engine joins them with
    // one "\n" after each file (the model numbers the joined lines).
    std::vector<SourceFile> files;
    std::vector<SkippedFile> notRead;
    std::vector<Diagnostic> diagnostics;

    bool hasErrors() const;
};

// Reads the game in folder as engine does. forced, when given, is the
// encoding of every file. Never throws: every failure is a diagnostic.
GameLoad loadGame(const std::string& folder, Engine engine, std::optional<Encoding> forced = std::nullopt);


}  // namespace input
