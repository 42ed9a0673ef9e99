#pragma once

// The reading page of a script, or of one part of it, written from the
// model: text shown as text, command words by kind, and links for labels,
// their references, user commands, aliases and jumps.

#include <cstddef>
#include <string>
#include <vector>

#include "analysis/model.h"
#include "nscr/byte_buffer.h"
#include "write/html5/page_layout.h"

namespace writers::html5 {

struct ReadingOptions {
    bool lineNumbers = false;
    std::string lang;            // the page's language; empty: taken from the text
    // Per file, the language of its text, worked out once for all of its
    // pages; none: worked out for each page.
    const std::vector<std::string>* languages = nullptr;
    std::string frontPagePath;   // a front page to link to; empty: none
    std::string frontPageTitle;  // its name on every page's bar
    input::DuplicateRule labelRule = input::DuplicateRule::First;  // which of two definitions links go to
    input::DuplicateRule aliasRule = input::DuplicateRule::First;
    // Findings to mark on the page: their places and messages.
    const std::vector<analysis::Finding>* findings = nullptr;
};

// The lines a block of the page holds: the browser lays out only the blocks
// on screen.
inline constexpr std::uint32_t blockLines = 256;

// The page of part `part` of the layout, written into `buffer`, a buffer
// used for page after page; the page is the view given, its first bytes.
std::string_view writeReadingPage(const analysis::Model& model, const PageLayout& layout, std::size_t part,
                                  const ReadingOptions& options, nscr::ByteBuffer& buffer);
std::string readingPage(const analysis::Model& model, const PageLayout& layout, std::size_t part,
                        const ReadingOptions& options);

// Bytes of a script in its encoding as UTF-8, U+FFFD for what is not valid.
std::string utf8Of(std::string_view bytes, input::Encoding encoding);

// The language of a file's text: "ja" where kana are found, "zh" for Chinese
// characters without kana, "en" otherwise.
std::string languageOf(const analysis::Model& model, std::uint32_t file);

// The definition that links to a name go to under a rule (the first or the
// last), given any definition of the name.
inline std::uint32_t winningDefinition(const analysis::Model& model, std::uint32_t symbol, input::DuplicateRule rule) {
    const analysis::Symbol& definition = model.symbols[symbol];
    return rule == input::DuplicateRule::Last ? definition.lastOfKey : definition.firstOfKey;
}

}  // namespace writers::html5
