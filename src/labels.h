#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "nscr/token.h"

// Labels of HTML5 pages. A label definition (a label at the line top) gets
// an id from its name; a label reference (goto *name) becomes a link to the
// definition of the same name, compared without regard to case, as the
// script language compares labels.

// A label met on a page: where its opening goes, and what it names.
struct LabelMark {
    std::size_t buffer = 0;  // the page buffer that holds the label's text
    std::size_t offset = 0;  // where in that buffer its opening starts
    std::size_t length = 0;  // of the opening
    std::string name;        // without the "*", as written
    std::string key;         // the name in lower case
    std::int64_t line = 0;   // counted from 1
    std::size_t column = 0;  // of the "*", counted from 0 (definitions)
    bool definition = false;
    nscr::TokenType type = nscr::TokenType::GENERIC_LABEL;
};

// The name in lower case: names are compared by it.
std::string labelKey(std::string_view name);
// "l-" and the key, and for the n-th definition of a name (n > 1) "-n":
// unique without regard to case, never the id of a line ("L" and digits),
// never the id of another name (names hold no "-"), and made of bytes an id
// may hold (a name is letters, digits and "_").
void appendLabelId(std::string& out, std::string_view key, int ordinal);
std::string labelId(std::string_view key, int ordinal = 1);

// The definitions of one page: which is the first of its name, and the
// ordinal of each (1 for the first of a name, 2 for the next...).
class PageLabels {
public:
    explicit PageLabels(const std::vector<LabelMark>& labels);
    // The ordinal of the definition at index k of labels (0 for a reference).
    int ordinal(std::size_t k) const { return ordinals_[k]; }
    // The first definition of the key, or nullptr.
    const LabelMark* firstDefinition(std::string_view key) const;

private:
    struct Name {
        std::size_t first;  // index of its first definition
        int count;          // of its definitions so far
    };
    const std::vector<LabelMark>& labels_;
    std::vector<int> ordinals_;
    std::unordered_map<std::string_view, Name> names_;
};

// Where the labels of the pages of a run are defined: the first definition
// of a name wins.
class LabelDirectory {
public:
    struct Target {
        std::string page;  // the path of the page
    };
    // Adds the definitions among labels, for the page at pagePath.
    void addPage(const std::vector<LabelMark>& labels, const std::string& pagePath);
    const Target* find(std::string_view key) const;

private:
    std::map<std::string, Target, std::less<>> targets_;
};
