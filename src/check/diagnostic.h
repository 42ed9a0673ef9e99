#pragma once

// A finding of the checker: which check, how bad, where, and what.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "check/check_ids.h"
#include "nscr/huge_page_allocator.h"

namespace check {

// A place for the reader: the file as named on the command line, and the
// line and byte column counted from 1.
struct Location {
    std::string file;
    std::uint32_t fileOrder = 0;  // the file's place in the run, for sorting
    std::uint32_t line = 1;
    std::uint32_t column = 1;
};

struct Diagnostic {
    CheckId check = CheckId::UndefinedLabel;
    Severity severity = Severity::Warning;
    Location where;
    std::string message;
};

// Findings in an array of their own: a game's tens of thousands take huge
// pages.
using Diagnostics = std::vector<Diagnostic, nscr::HugePageAllocator<Diagnostic>>;

// Where the checks put what they find.
class DiagnosticSink {
public:
    virtual ~DiagnosticSink() = default;
    virtual void report(Diagnostic diagnostic) = 0;
    // About this many more findings come now: room can be made for them.
    virtual void expect(std::size_t count) { (void)count; }
};

}  // namespace check
