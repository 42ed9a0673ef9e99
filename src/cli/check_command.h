#pragma once

// hibarune -check: reads scripts as one game and reports what the engine
// would not run as the author meant, writing no page.

#include <optional>
#include <string>

#include "check/check_ids.h"
#include "cmdline.h"

// The checks the options choose (-check=ID, -no-check=ID); nothing, with
// the reason on standard error, when they name no check.
std::optional<check::CheckSelection> checkSelectionOf(const OptionList& options);

// Whether the command line asks for a check run (-check, -check=ID).
bool wantsCheckCommand(const OptionList& options);

// Runs the checks the options choose over options.files; gives the exit
// status: 0 without errors, 1 with one, 2 when a file could not be read or
// the options are wrong.
int runCheckCommand(const OptionList& options, const std::string& commandsPath);
