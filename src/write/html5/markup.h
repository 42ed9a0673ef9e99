#pragma once

// The fixed parts of a reading page: its head with the style sheet, the
// class of each kind of piece, and the little script at its end.

#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/model.h"

namespace writers::html5 {

// From "<!DOCTYPE html>" to "<body>\n".
std::string pageHead(std::string_view title, std::string_view lang, bool lineNumbers);

// The class of a piece of a kind, or "" when it is shown as body text and
// needs no element.
std::string_view classOf(analysis::SpanKind kind);
// The class of a built-in command word by the block it may stand in (the
// span's target).
std::string_view commandClass(std::uint32_t block);

// Text as a JSON string, quotes included, to stand inside a <script>
// element: "<" is written \u003c, so that no "</script>" can end it.
void appendJsonString(std::string& out, std::string_view text);

// The script at the end of a page; partTable ("[[first,last,\"href\"],...]")
// sends a line's link on to the part that holds it.
std::string pageScript(const std::string& partTable);

}  // namespace writers::html5
