#pragma once

// What a run reads: scripts named one by one, read as one game in the order
// given, or one game folder read as the engine reads it. Shared by the page
// run and the check run.

#include <optional>
#include <string>
#include <vector>

#include "analysis/model.h"
#include "cmdline.h"
#include "input/game_loader.h"
#include "input/source_file.h"

struct RunInput {
    std::vector<input::SourceFile> files;
    std::vector<input::SkippedFile> notRead;  // game files the engine leaves aside
    input::Engine engine = input::defaultEngine;
    bool engineChosen = false;  // -engine was given
    std::string gameName;    // the folder's name in game mode
    std::string gameFolder;  // empty for scripts named one by one
    bool unreadable = false;  // some input could not be read (reported)
    bool unusable = false;    // the run cannot go on (reported): a bad option, two games
};

// The value of a "-name VALUE" option, or empty.
std::string optionValue(const OptionList& options, std::string_view name);

// -enc NAME, or -utf8; nothing when the run leaves it to each file.
std::optional<input::Encoding> forcedEncoding(const OptionList& options);

// Reads the run's scripts or game folder; messages go to standard error.
RunInput readRunInput(const OptionList& options);

// "FILE:LINE:COL: error: not valid CP932 ...; the file looks like UTF-8: try
// -utf8" for each file whose bytes the analysis found not valid in its
// encoding (a warning when lenient).
std::vector<std::string> encodingMessages(const analysis::Model& model, bool lenient);
