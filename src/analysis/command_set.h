#pragma once

#include <string>
#include <string_view>
#include <cstdint>
#include <vector>

namespace nscr {
class CommandTable;
}

namespace analysis {

// The engine's built-in command words, each with the block it may stand in.
class CommandSet {
public:
    enum class Block : unsigned char { Definition, Program, Both };
    void add(std::string_view name, Block block);
    // The block of a command given in lower case; nullptr when unknown.
    const Block* find(std::string_view lowerName) const;
    // The same, with the name's nameHash at hand.
    const Block* find(std::string_view lowerName, std::uint32_t hash) const;
    // The same for a name in any case, given its nameHash: as find of the
    // name in lower case, without making that first.
    const Block* findAnyCase(std::string_view name, std::uint32_t hash) const;
    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        std::string name;
        std::uint32_t hash;
        Block block;
    };
    // Where a name's entry is, or the empty slot where it goes.
    std::size_t slotOf(std::string_view name, std::uint32_t hash) const;
    void grow();

    std::vector<Entry> entries_;
    std::vector<std::uint32_t> slots_;  // open addressed: an entry's index + 1, 0 when empty
};

// The reserved commands of commands.txt, and the commands of the engines
// that it does not list (the dialects' text commands, ONScripter-RU's jumps).
CommandSet commandSetFrom(const nscr::CommandTable& reserved);

}  // namespace analysis
