#pragma once

// Every check the checker knows: its id, how bad its findings are, whether
// it runs unless chosen, and one line of help. The README's list and the
// SARIF rules come from this one table.

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string_view>

namespace check {

enum class Severity : std::uint8_t { Error, Warning, Note };

// "error", "warning", "note".
std::string_view severityName(Severity severity);

enum class CheckId : std::uint8_t {
    UndefinedLabel,
    DuplicateLabel,
    LabelArgument,
    DefsubWithoutLabel,
    UnknownCommand,
    CommandInWrongBlock,
    AliasUndefined,
    AliasRedefined,
    AliasSameVariable,
    JumpfTarget,
    FileShadowed,
    BomHidesLabel,
};

struct CheckInfo {
    CheckId id;
    std::string_view name;
    Severity severity;
    bool onByDefault;
    std::string_view help;
};

inline constexpr std::size_t checkCount = 12;

extern const std::array<CheckInfo, checkCount> checkTable;

inline const CheckInfo& infoOf(CheckId id) { return checkTable[static_cast<std::size_t>(id)]; }

// The check of a name as written on the command line.
std::optional<CheckId> checkNamed(std::string_view name);

// Which checks run.
class CheckSelection {
public:
    // The checks that are on by default.
    static CheckSelection defaults();
    static CheckSelection none() { return {}; }
    bool has(CheckId id) const { return on_[static_cast<std::size_t>(id)]; }
    void set(CheckId id, bool on) { on_[static_cast<std::size_t>(id)] = on; }

private:
    std::bitset<checkCount> on_;
};

}  // namespace check
