#include "analysis/command_set.h"

#include <algorithm>
#include <array>

#include "analysis/characters.h"

#include "nscr/token.h"

namespace analysis {

std::size_t CommandSet::slotOf(std::string_view name, std::uint32_t hash) const {
    std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        std::uint32_t slot = slots_[at];
        if (slot == 0) return at;
        const Entry& entry = entries_[slot - 1];
        if (entry.hash == hash && entry.name == name) return at;
    }
}

void CommandSet::grow() {
    slots_.assign(std::max<std::size_t>(64, slots_.size() * 2), 0);
    for (std::uint32_t k = 0; k < entries_.size(); ++k) slots_[slotOf(entries_[k].name, entries_[k].hash)] = k + 1;
}

void CommandSet::add(std::string_view name, Block block) {
    if ((entries_.size() + 1) * 2 > slots_.size()) grow();
    std::uint32_t hash = nameHash(name);
    std::size_t at = slotOf(name, hash);
    if (slots_[at] != 0) {
        entries_[slots_[at] - 1].block = block;
        return;
    }
    entries_.push_back({std::string(name), hash, block});
    slots_[at] = static_cast<std::uint32_t>(entries_.size());
}

const CommandSet::Block* CommandSet::find(std::string_view lowerName) const { return find(lowerName, nameHash(lowerName)); }

const CommandSet::Block* CommandSet::find(std::string_view lowerName, std::uint32_t hash) const {
    if (slots_.empty()) return nullptr;
    std::uint32_t slot = slots_[slotOf(lowerName, hash)];
    return slot == 0 ? nullptr : &entries_[slot - 1].block;
}

const CommandSet::Block* CommandSet::findAnyCase(std::string_view name, std::uint32_t hash) const {
    if (slots_.empty()) return nullptr;
    auto isLowerCaseOf = [](std::string_view lower, std::string_view name) {
        if (lower.size() != name.size()) return false;
        for (std::size_t k = 0; k < name.size(); ++k)
            if (lower[k] != lowerByte(name[k])) return false;
        return true;
    };
    std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        std::uint32_t slot = slots_[at];
        if (slot == 0) return nullptr;
        const Entry& entry = entries_[slot - 1];
        if (entry.hash == hash && isLowerCaseOf(entry.name, name)) return &entry.block;
    }
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
