#pragma once

// The checker's findings in the forms tools read: compiler-style lines,
// one JSON object per line, or a SARIF 2.1.0 document.

#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "check/diagnostic.h"

namespace check {

enum class Format : unsigned char { Text, Json, Sarif };

// Keeps every finding, so that they can be written in file and line order.
class CollectingSink : public DiagnosticSink {
public:
    void report(Diagnostic diagnostic) override { diagnostics_.push_back(std::move(diagnostic)); }
    void expect(std::size_t count) override { diagnostics_.reserve(diagnostics_.size() + count); }
    // The findings by file (in run order), line and column; findings of one
    // place keep the order they came in.
    Diagnostics sorted() &&;
    const Diagnostics& diagnostics() const { return diagnostics_; }

private:
    Diagnostics diagnostics_;
};

// "FILE:LINE:COL: severity: message [check-id]"
std::string textLine(const Diagnostic& diagnostic);
void appendTextLine(std::string& out, const Diagnostic& diagnostic);
// {"file":..., "line":..., "column":..., "severity":..., "check":..., "message":...}
std::string jsonLine(const Diagnostic& diagnostic);

// The text as a JSON string, quotes included. Bytes that are no UTF-8 become
// U+FFFD, so the output is always valid JSON.
std::string jsonString(std::string_view text);

// Writes the findings, in the given order, to out as they come; raises
// nscr::Error when the output fails.
void writeDiagnostics(std::FILE* out, Format format, std::span<const Diagnostic> diagnostics);

// "3 errors, 12 warnings in 2 files" (with ", N notes" when there are some).
std::string summaryLine(std::span<const Diagnostic> diagnostics, std::size_t files);

}  // namespace check
