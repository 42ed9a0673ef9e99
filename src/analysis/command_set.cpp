#include "analysis/command_set.h"

#include <array>

#include "nscr/token.h"

namespace analysis {

void CommandSet::add(std::string_view name, Block block) { commands_.insert_or_assign(std::string(name), block); }

const CommandSet::Block* CommandSet::find(std::string_view lowerName) const {
    auto found = commands_.find(lowerName);
    return found == commands_.end() ? nullptr : &found->second;
}

namespace {

// Commands the engines run that commands.txt leaves out: the language and
// dialogue commands of the dialects, and the jumps and label commands of
// ONScripter-RU.
constexpr std::array<std::string_view, 22> engineCommands = {
    "langen", "langjp", "d",      "d2",       "jskip",       "jnskip",          "jauto",      "jnauto",
    "sskip",  "skipgosub", "event_callback", "mark_range_read", "if",  "notif", "lchk", "fchk",
    "return", "break", "game", "defsub", "numalias", "stralias",
};

CommandSet::Block blockOf(nscr::TokenType type) {
    if (type == nscr::TokenType::DEFINE_COMMAND) return CommandSet::Block::Definition;
    if (type == nscr::TokenType::EXECUTE_COMMAND) return CommandSet::Block::Program;
    return CommandSet::Block::Both;
}

}  // namespace

CommandSet commandSetFrom(const nscr::CommandTable& reserved) {
    CommandSet set;
    for (std::string_view name : engineCommands) set.add(name, CommandSet::Block::Both);
    for (const auto& [name, type] : reserved) {
        std::string lower(name);
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        set.add(lower, blockOf(type));
    }
    return set;
}

}  // namespace analysis
