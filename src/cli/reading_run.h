#pragma once

// The -html5 run: read the scripts or the game folder, build the model once,
// and write a reading page for every part of every file, with the front
// page when there is a game or an index.

#include <string>
#include <vector>

#include "cmdline.h"

// Pages go into outputDirectory, or beside their scripts when it is empty;
// none may replace an input of the run or a configuration file. Returns
// the exit status.
int runReadingPages(const OptionList& options, const std::string& outputDirectory,
                    const std::vector<std::string>& configurationFiles);
