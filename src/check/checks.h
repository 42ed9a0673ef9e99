#pragma once

// The checks: each reads the model of a script or game and reports what
// the engine would not run as the author meant.

#include <cstdint>
#include <string>

#include "analysis/command_set.h"
#include "analysis/model.h"
#include "check/diagnostic.h"
#include "input/source_file.h"

namespace check {

// Runs the chosen checks over the model, for the engine that will run it.
void runChecks(const analysis::Model& model, const analysis::CommandSet& commands, const CheckSelection& selection,
               input::Engine engine, DiagnosticSink& sink);

// A finding about a whole file that the model does not hold, such as a
// script file the engine never reads (file-shadowed): reported at the
// file's first line when the check is chosen.
void reportFileDiagnostic(DiagnosticSink& sink, const CheckSelection& selection, CheckId id, std::string path,
                          std::uint32_t fileOrder, std::string message);

// "ONScripter", "ONScripter-EN"...
std::string_view engineName(input::Engine engine);

}  // namespace check
