#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codepage.h"
#include "generator.h"
#include "nscr/error.h"

// The converter's run, from the command line to the pages. main() is a thin
// shell around runHibarune.

std::string usageText();
std::string helpText();
std::string versionText();

// The directory of the running program: from /proc/self/exe, else the
// directory part of argv0 ("/" separated); empty when it has none.
std::string programDirectory(const std::string& argv0);

// "commands.txt" beside the program, else the installed copy in
// ../share/hibarune/ beside the program's directory; the path beside the
// program when neither exists.
std::string commandsPathFor(const std::string& directory);

// Where the page of a script goes: beside it (a.txt.html), or in the output
// folder under the script's file name (DIR/a.txt.html) when one is given.
std::string pagePathFor(const std::string& script, const std::string& outputDirectory);
// Where the index of a run's pages goes: the current directory, or the
// output folder.
std::string indexPathFor(const std::string& outputDirectory);

// How a script is read: its encoding, and whether lines the tokenizer
// rejects are converted anyway.
struct ScriptSettings {
    TextEncoding encoding = TextEncoding::CP932;
    bool lenient = false;
};

// Something worth telling about a script that converted: a place the
// lenient tokenizer recovered from, or bytes read past that do not decode.
struct Warning {
    std::size_t line = 0;    // index, counted from 0
    std::size_t column = 0;  // byte column, counted from 0
    std::string message;
};

// The first warnings of a script, and how many there were in all.
class WarningLog {
public:
    static constexpr std::size_t limit = 20;
    void add(std::size_t line, std::size_t column, std::string_view message);
    // Adds the warnings of the script's next part, whose first line has the
    // index firstLine.
    void append(const WarningLog& part, std::size_t firstLine);
    const std::vector<Warning>& shown() const { return shown_; }
    std::size_t total() const { return total_; }
    bool full() const { return shown_.size() == limit; }

private:
    std::vector<Warning> shown_;
    std::size_t total_ = 0;
};

// A fault of one line of a script, with the line's index, the byte column
// and what is wrong apart from what().
class ScriptPlaceError : public nscr::Error {
public:
    ScriptPlaceError(std::string what, std::size_t index, std::size_t column, std::string_view message)
        : nscr::Error(std::move(what)), index_(index), column_(column), message_(message) {}
    std::size_t index() const { return index_; }
    std::size_t column() const { return column_; }
    const std::string& message() const { return message_; }

private:
    std::size_t index_;
    std::size_t column_;
    std::string message_;
};

// A line that does not tokenize: what() is "index: message" as the all-lines
// tokenizer raises it.
class ScriptLineError : public ScriptPlaceError {
public:
    ScriptLineError(std::size_t index, std::size_t column, std::string_view message);
};

// A line that does not decode: what() is the conversion error's message;
// message() says what is wrong ("not valid CP932 (bytes 82 FF)", and a hint
// when there is one).
class ScriptDecodeError : public ScriptPlaceError {
public:
    ScriptDecodeError(std::size_t index, std::size_t column, std::string_view message);
};

struct ConvertedScript {
    Page page;
    WarningLog warnings;
};

// The page of one script, from its raw bytes: lines cut at CR, LF and CR LF
// and at their first zero byte, decoded, tokenized, rendered. Raises the
// first error in the order the converter reports them: decoding of any
// line, then tokenizing, then the page. Large scripts are converted in parts
// side by side, each on a thread of its own with a decoder of its own; the
// page and the error are the same. partCount 0: as many parts as pay.
ConvertedScript convertScript(std::string_view script, const Generator& generator, const ScriptSettings& settings,
                              Cp932Decoder& decoder, std::size_t partCount = 0);

// A CP932 script converted strictly.
std::string convertScript(std::string_view script, const Generator& generator, Cp932Decoder& decoder);
Page convertToPage(std::string_view script, const Generator& generator, Cp932Decoder& decoder);
// The same, cut into at most partCount parts (1: all on this thread).
Page convertToPage(std::string_view script, const Generator& generator, Cp932Decoder& decoder,
                   std::size_t partCount);

// arguments[0] is the program path. Returns the exit status.
int runHibarune(const std::vector<std::string>& arguments);
