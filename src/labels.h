#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "nscr/byte_buffer.h"
#include "nscr/token.h"

// Labels of HTML5 pages. A label definition (a label at the line top) gets
// an id from its name; a label reference (goto *name) becomes a link to the
// definition of the same name, compared without regard to case, as the
// script language compares labels.

// A label met on a page: where its opening stands in the page's buffers.
// Its name, and its key (the name in lower case), are also kept with those
// of the page's other labels, one after another, so that the page's labels
// are matched and listed without reading the page again (Page::labelName,
// Page::labelKey).
struct LabelMark {
    std::size_t buffer = 0;     // the page buffer that holds the label
    std::size_t offset = 0;     // where in that buffer its opening starts
    std::size_t nameOffset = 0;  // where its name, then its key, start among the page's names
    std::uint32_t length = 0;   // of the opening
    std::uint32_t nameSize = 0;
    std::int64_t line = 0;      // counted from 1
    std::size_t column = 0;     // of the "*", counted from 0 (definitions)
    std::uint32_t hash = 0;     // labelHash of the key
    nscr::TokenType type = nscr::TokenType::GENERIC_LABEL;
    bool definition = false;
};

// The labels of a page in the order met. They are kept in a mapped buffer:
// a page may hold hundreds of thousands, and such a buffer grows without
// copying, and once large, is backed by huge pages.
class LabelMarks {
public:
    // A new mark at the end, to be filled in where it stands.
    LabelMark& emplace_back() {
        char* room = marks_.room(sizeof(LabelMark));
        marks_.commit(room + sizeof(LabelMark));
        return *new (room) LabelMark();
    }
    std::size_t size() const { return marks_.size() / sizeof(LabelMark); }
    bool empty() const { return size() == 0; }
    const LabelMark* begin() const { return reinterpret_cast<const LabelMark*>(marks_.view().data()); }
    const LabelMark* end() const { return begin() + size(); }
    const LabelMark& operator[](std::size_t k) const { return begin()[k]; }
    void clear() { marks_.clear(); }
    // Appends the marks of another page's part, whose buffers and names
    // come after this page's first buffers and names.
    void appendShifted(const LabelMarks& part, std::size_t buffers, std::size_t names) {
        std::size_t first = size();
        marks_.append(part.marks_.view());
        auto* marks = reinterpret_cast<LabelMark*>(marks_.data());
        for (std::size_t k = first; k < size(); ++k) {
            marks[k].buffer += buffers;
            marks[k].nameOffset += names;
        }
    }
    void reserve(std::size_t count) { marks_.reserve(count * sizeof(LabelMark)); }

private:
    nscr::ByteBuffer marks_;
};

// The name in lower case: names are compared by it.
std::string labelKey(std::string_view name);
// A hash of a key, for tables of labels; a name has the hash of its key.
std::uint32_t labelHash(std::string_view key);
// "l-" and the key, and for the n-th definition of a name (n > 1) "-n":
// unique without regard to case, never the id of a line ("L" and digits),
// never the id of another name (names hold no "-"), and made of bytes an id
// may hold (a name is letters, digits and "_").
void appendLabelId(std::string& out, std::string_view key, int ordinal);
std::string labelId(std::string_view key, int ordinal = 1);

// The definitions of one page: which is the first of its name, and the
// ordinal of each (1 for the first of a name, 2 for the next...). names
// holds the labels' names and keys (LabelMark::nameOffset).
class PageLabels {
public:
    PageLabels(const LabelMarks& labels, std::string_view names);
    // The ordinal of the definition at index k of labels (0 for a reference).
    int ordinal(std::size_t k) const { return ordinals_[k]; }
    std::string_view key(std::size_t k) const {
        return names_.substr(labels_[k].nameOffset + labels_[k].nameSize, labels_[k].nameSize);
    }
    std::size_t size() const { return labels_.size(); }
    // The first definition of the name of the label at index k, or nullptr.
    const LabelMark* firstDefinition(std::size_t k) const;

private:
    // The names, in a table of open addressing: a page may have hundreds of
    // thousands, so a slot is small (a table of them stays in the cache)
    // and holds the hash, and keys are only compared where hashes agree.
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t first = 0;  // 1 + the index of its first definition; 0: a free slot
    };
    Slot& slotOf(std::size_t k);
    const Slot* find(std::size_t k) const;
    bool sameKey(const Slot& slot, std::size_t k) const { return key(slot.first - 1) == key(k); }

    const LabelMarks& labels_;
    std::string_view names_;
    std::vector<int> ordinals_;
    std::vector<Slot> slots_;  // a power of two of them, at most two thirds in use
    // The definitions so far of each name defined more than once, by the
    // index of its first: few names are.
    std::unordered_map<std::uint32_t, int> repeated_;
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
