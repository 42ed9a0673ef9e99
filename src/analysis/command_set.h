#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

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
    std::size_t size() const { return commands_.size(); }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, Block, Hash, std::equal_to<>> commands_;
};

// The reserved commands of commands.txt, and the commands of the engines
// that it does not list (the dialects' text commands, ONScripter-RU's jumps).
CommandSet commandSetFrom(const nscr::CommandTable& reserved);

}  // namespace analysis
