#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "codepage.h"
#include "generator.h"

// The converter's run, from the command line to the pages. main() is a thin
// shell around runHibarune.

std::string usageText();

// The directory of the running program: from /proc/self/exe, else the
// directory part of argv0 ("/" separated); empty when it has none.
std::string programDirectory(const std::string& argv0);

// "commands.txt" beside the program, else the installed copy in
// ../share/hibarune/ beside the program's directory; the path beside the
// program when neither exists.
std::string commandsPathFor(const std::string& directory);

// The page bytes of one script, from its raw CP932 bytes: lines cut at CR,
// LF and CR LF and at their first zero byte, converted to UTF-8, tokenized,
// rendered. Raises the first error in the order the converter reports them:
// conversion of any line, then tokenizing, then page conversion.
// Large scripts are converted in parts side by side, each on a thread of its
// own with a decoder of its own; the page and the error are the same.
std::string convertScript(std::string_view script, const Generator& generator, Cp932Decoder& decoder);
// The same page, not yet finished.
Page convertToPage(std::string_view script, const Generator& generator, Cp932Decoder& decoder);
// The same, cut into at most partCount parts (1: all on this thread).
Page convertToPage(std::string_view script, const Generator& generator, Cp932Decoder& decoder,
                   std::size_t partCount);

// arguments[0] is the program path. Returns the exit status.
int runHibarune(const std::vector<std::string>& arguments);
