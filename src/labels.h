#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "nscr/byte_buffer.h"
#include "nscr/token.h"

// Labels of HTML5 pages. A label definition (a label at the line top) gets
// an id from its name; a label reference (goto *name) becomes a link to the
// definition of the same name, compared without regard to case, as the
// script language compares labels.

// A label met on a page: where its opening stands in the page's buffers.
// Its name follows the opening there (after the "*"), and its key, the name
// in lower case, ends the opening: the page gives both (Page::labelName,
// Page::labelKey), so that a page of many labels keeps no strings for them.
struct LabelMark {
    std::size_t buffer = 0;     // the page buffer that holds the label
    std::size_t offset = 0;     // where in that buffer its opening starts
    std::uint32_t length = 0;   // of the opening
    std::uint32_t nameSize = 0;
    std::int64_t line = 0;      // counted from 1
    std::size_t column = 0;     // of the "*", counted from 0 (definitions)
    nscr::TokenType type = nscr::TokenType::GENERIC_LABEL;
    bool definition = false;
};

// The labels of a page in the order met. They are kept in a mapped buffer:
// a page may hold hundreds of thousands, and such a buffer grows without
// copying and with few page faults.
class LabelMarks {
public:
    void push_back(const LabelMark& mark) {
        // Room for tens of thousands from the start: a mapping of that size
        // is backed by huge pages, so filling it faults little.
        if (marks_.capacity() == 0) marks_.reserve(firstCapacity);
        char* room = marks_.room(sizeof mark);
        std::memcpy(room, &mark, sizeof mark);
        marks_.commit(room + sizeof mark);
    }
    std::size_t size() const { return marks_.size() / sizeof(LabelMark); }
    bool empty() const { return size() == 0; }
    const LabelMark* begin() const { return reinterpret_cast<const LabelMark*>(marks_.view().data()); }
    const LabelMark* end() const { return begin() + size(); }
    const LabelMark& operator[](std::size_t k) const { return begin()[k]; }
    void clear() { marks_.clear(); }

private:
    static constexpr std::size_t firstCapacity = 2u << 20;
    nscr::ByteBuffer marks_;
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
// ordinal of each (1 for the first of a name, 2 for the next...). keys[k]
// is the key of labels[k].
class PageLabels {
public:
    PageLabels(const LabelMarks& labels, std::vector<std::string_view> keys);
    // The ordinal of the definition at index k of labels (0 for a reference).
    int ordinal(std::size_t k) const { return ordinals_[k]; }
    std::string_view key(std::size_t k) const { return keys_[k]; }
    std::size_t size() const { return keys_.size(); }
    // The first definition of the key, or nullptr.
    const LabelMark* firstDefinition(std::string_view key) const;

private:
    // The names, in a table of open addressing: a page may have hundreds
    // of thousands, and one array of them costs one allocation.
    struct Name {
        std::string_view key;
        std::size_t first = 0;  // index of its first definition
        int count = 0;          // of its definitions so far; 0: a free slot
    };
    Name& slotOf(std::string_view key);
    const Name* find(std::string_view key) const;

    const LabelMarks& labels_;
    std::vector<std::string_view> keys_;
    std::vector<int> ordinals_;
    std::vector<Name> names_;  // a power of two of them, at most half in use
};

// Where the labels of the pages of a run are defined: the first definition
// of a name wins.
class LabelDirectory {
public:
    struct Target {
        std::string page;  // the path of the page
    };
    // Adds the definitions among labels, for the page at pagePath.
    void addPage(const PageLabels& labels, const std::string& pagePath);
    const Target* find(std::string_view key) const;

private:
    std::map<std::string, Target, std::less<>> targets_;
};
