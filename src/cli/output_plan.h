#pragma once

// Where the files of a run go, and what must never be written: a page over
// an input of the run, two outputs on one file, anything but a regular file.

#include <optional>
#include <string>
#include <vector>

// The scripts of the run, each once: a script named again, by any path, is
// read once.
std::vector<std::string> distinctScripts(const std::vector<std::string>& files);

// One file the run will write, and what it holds.
struct PlannedOutput {
    std::string path;
    std::string what;  // "the page of a.txt", "the index"
};

// Why the run must not write its outputs, or none: an output that is not a
// regular file, one that is an input of the run (a script or a
// configuration file, links followed), or two outputs that are one file.
std::optional<std::string> outputProblem(const std::vector<PlannedOutput>& outputs,
                                         const std::vector<std::string>& inputs);

// Makes the output folder, with its parents, when it is missing; raises
// nscr::Error when something else is there.
void makeOutputDirectory(const std::string& directory);
