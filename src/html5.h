#pragma once

// The parts of an -html5 page that do not depend on the tokens: class names,
// the style sheet, the page head and tail, the label index and index.html.
// Everything is UTF-8 text with LF line ends.
//
// The markup the sheet styles:
//   <pre class="code"> then per script line
//   <span class="l" id="L12">[<a class="n" href="#L12" data-n="12"></a>]tokens</span>\n
//   a token is <span class="X">text</span>, X = className(type); a label is
//   <a class="X" id="l-name" href="#l-name">*name</a> (line top) or
//   <a class="X" href="page.html#l-name">*name</a> / <a class="X">*name</a>.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "nscr/token.h"

namespace html5 {

// Short class name of a token type, unique, lower-case letters only
// ("c" for COMMENT); empty outside 0..25.
std::string_view className(nscr::TokenType type);

// Text escaped for HTML text and attribute values: & < > " (nothing else changed).
std::string escaped(std::string_view text);
void appendEscaped(std::string& out, std::string_view text);

// A file name (UTF-8) as a relative URL: the bytes that mean something in a
// URL ("#", "?", "%", ":", blanks, controls...) are percent-encoded.
std::string hrefOfFile(std::string_view fileName);

// The page's style sheet (no <style> tags): layout rules, a light scheme with
// the colours of nscr::fontInfos where color.txt changed them, and a dark
// scheme of its own under prefers-color-scheme: dark.
std::string styleSheet(bool lineNumbers);

// The colour rules of both schemes: the page's background and text, and
// one rule per token type (for classes of className).
std::string colourRules();

// Whether a token type has the colour of body text in both schemes and no
// colour or weight of its own from color.txt: its text needs no element.
bool hasBodyColour(nscr::TokenType type);

// From "<!DOCTYPE html>" to "<body>\n", with the title (UTF-8) escaped.
std::string pageHead(std::string_view title, bool lineNumbers);

struct Label {
    std::string name;  // without "*", as written
    std::string id;    // the element id of the label
    std::int64_t line;
};

// The label index written piece by piece into out: its opening for count
// labels, one entry per label, its closing.
void appendIndexOpening(std::string& out, std::size_t count);
// An entry written at out, which has room for indexEntryRoom bytes; gives
// its end.
std::size_t indexEntryRoom(std::size_t nameSize, std::size_t idSize, std::size_t pageHrefSize);
char* writeIndexEntry(char* out, std::string_view name, std::string_view id, std::int64_t line,
                      std::string_view pageHref);
void appendIndexEntry(std::string& out, std::string_view name, std::string_view id, std::int64_t line,
                      std::string_view pageHref);
void appendIndexClosing(std::string& out);

// The collapsible label index (empty when there are no labels). Each entry
// links to pageHref + "#" + id; pageHref is a URL (see hrefOfFile).
std::string labelIndex(const std::vector<Label>& labels, std::string_view pageHref = "");

std::string codeOpening();  // "<pre class=\"code\">"
std::string pageClosing();  // "</pre>\n</body>\n</html>\n"

struct PageSummary {
    std::string href;  // a URL (see hrefOfFile)
    std::string title;
    std::int64_t lines;
    std::vector<Label> labels;
};

// index.html of a run of many scripts: the pages with their line counts and
// their labels, with the same head and schemes as the pages.
std::string indexPage(const std::vector<PageSummary>& pages);

}  // namespace html5
