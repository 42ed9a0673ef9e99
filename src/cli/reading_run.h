#pragma once

// The -html5 run: read the scripts or the game folder, build the model once,
// and write a reading page for every part of every file, with the front
// page when there is a game or an index.

#include <string>

#include "cmdline.h"

// Returns the exit status.
int runReadingPages(const OptionList& options);
