#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "nscr/token.h"

// Labels of HTML5 pages. A label definition (a label at the line top) gets
// an id from its name; a label reference (goto *name) becomes a link to the
// definition of the same name, compared without regard to case, as the
// script language compares labels.

// A label met on a page: where its opening goes, and what it names.
struct LabelMark {
    std::size_t buffer = 0;  // the page buffer that holds the label's text
    std::size_t offset = 0;  // where in that buffer the opening goes
    std::string name;        // without the "*", as written
    std::int64_t line = 0;   // counted from 1
    std::size_t column = 0;  // of the "*", counted from 0
    bool definition = false;
    nscr::TokenType type = nscr::TokenType::GENERIC_LABEL;
};

// "l-" and the name in lower case: unique without regard to case, never
// the id of a line ("L" and digits), and made of bytes an id may hold (a
// name is letters, digits and "_").
std::string labelKey(std::string_view name);
std::string labelId(std::string_view name);

// Where the labels of the pages of a run are defined: the first definition
// of a name wins.
class LabelDirectory {
public:
    struct Target {
        std::string page;  // the page's link, "" for the page being written
        std::string id;
    };
    // Adds the definitions among labels, for the page named pageLink.
    void addPage(const std::vector<LabelMark>& labels, const std::string& pageLink);
    const Target* find(std::string_view name) const;

private:
    std::map<std::string, Target, std::less<>> targets_;
};

// A definition that names a label defined before it on the same page.
struct DuplicateLabel {
    const LabelMark* mark;
    std::int64_t firstLine;
};

// The ids of the definitions among labels, in order: the first of a name
// gets labelId(name), later ones "-2", "-3"... after it, which no name can
// give since names hold no "-". duplicates, when given, gets the later ones.
std::vector<std::string> definitionIds(const std::vector<LabelMark>& labels,
                                       std::vector<DuplicateLabel>* duplicates = nullptr);
