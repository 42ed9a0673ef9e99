#pragma once

// Pieces of the reading pages that do not depend on the script: the class
// name of each token type, the colours of both schemes, escaping, links to
// files and the label index. Everything is UTF-8 text with LF line ends.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "nscr/token.h"

namespace html5 {

// Short class name of a token type, unique, lower-case letters only
// ("c" for COMMENT); empty outside 0..25.
std::string_view className(nscr::TokenType type);

// Text escaped for HTML text and attribute values: & < > " (nothing else changed).
std::string escaped(std::string_view text);
void appendEscaped(std::string& out, std::string_view text);
// Whether the text holds one of the bytes to escape.
bool hasEscapedByte(std::string_view text);

// A file name (UTF-8) as a relative URL: the bytes that mean something in a
// URL ("#", "?", "%", ":", blanks, controls...) are percent-encoded.
std::string hrefOfFile(std::string_view fileName);
// Whether text goes into a URL as it is: no byte of it is percent-encoded.
bool isPlainInUrl(std::string_view text);

// The colour rules of both schemes (no <style> tags): the page's background
// and text, and one rule per token type (for classes of className); the
// light scheme takes the colours of nscr::fontInfos where color.txt changed
// them, the dark one under prefers-color-scheme: dark has its own.
std::string colourRules();

// Whether a token type has the colour of body text in both schemes and no
// colour or weight of its own from color.txt: its text needs no element.
bool hasBodyColour(nscr::TokenType type);

// The label index written piece by piece into out: its opening for count
// labels, one entry per label (a link to pageHref + "#" + id, pageHref a URL
// as hrefOfFile makes it), its closing.
void appendIndexOpening(std::string& out, std::size_t count);
void appendIndexEntry(std::string& out, std::string_view name, std::string_view id, std::int64_t line,
                      std::string_view pageHref);
// An entry written at out, which has room for indexEntryRoom bytes: its end.
std::size_t indexEntryRoom(std::size_t nameSize, std::size_t idSize, std::size_t pageHrefSize);
char* writeIndexEntry(char* out, std::string_view name, std::string_view id, std::int64_t line,
                      std::string_view pageHref);
void appendIndexClosing(std::string& out);

}  // namespace html5
