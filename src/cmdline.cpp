#include "cmdline.h"

#include <algorithm>
#include <cctype>

namespace {

const KnownOption* findKnown(std::string_view name) {
    for (const KnownOption& option : knownOptions()) {
        if (option.kind == OptionKind::Joined ? name.starts_with(option.name) : name == option.name)
            return &option;
    }
    return nullptr;
}

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Edits (insert, delete, replace, swap of neighbours) from a to b, letters
// compared without regard to case.
std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

const std::vector<KnownOption>& knownOptions() {
    static const std::vector<KnownOption> options = {
        {"lineno", OptionKind::Flag},   {"class", OptionKind::Flag},
        {"text", OptionKind::Flag},     {"html5", OptionKind::Flag},
        {"index", OptionKind::Flag},    {"lenient", OptionKind::Flag},
        {"utf8", OptionKind::Flag},     {"h", OptionKind::Flag},
        {"help", OptionKind::Flag},     {"-help", OptionKind::Flag},
        {"-version", OptionKind::Flag}, {"o", OptionKind::Value},
        {"engine", OptionKind::Value},  {"enc", OptionKind::Value},
        {"split", OptionKind::Value},   {"lang", OptionKind::Value},
        {"check", OptionKind::Flag},    {"no-check=", OptionKind::Joined},
        {"check=", OptionKind::Joined}, {"check-format=", OptionKind::Joined},
    };
    return options;
}

std::optional<std::string> nearestOption(std::string_view name) {
    // A name of a letter or two is near too many others to guess.
    if (name.size() < 3) return std::nullopt;
    const KnownOption* best = nullptr;
    std::size_t bestDistance = 3;
    for (const KnownOption& option : knownOptions()) {
        std::string_view known = option.name;
        if (option.kind == OptionKind::Joined) known.remove_suffix(1);
        std::string_view given = name.substr(0, option.kind == OptionKind::Joined ? name.find('=') : name.size());
        std::size_t distance = editDistance(given, known);
        if (distance < bestDistance && distance < known.size()) {
            best = &option;
            bestDistance = distance;
        }
    }
    if (best == nullptr) return std::nullopt;
    std::string shown(1, '-');
    shown.append(best->name);
    return shown;
}

OptionList::OptionList(const std::vector<std::string>& arguments) {
    bool optionsEnded = false;
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        const std::string& argument = arguments[k];
        if (!optionsEnded && argument == "--") {
            // Everything after "--" is a file, so that "-x.txt" can be named.
            optionsEnded = true;
        } else if (!optionsEnded && !argument.empty() && argument.front() == '-') {
            std::string name = argument.substr(1);
            options[name] = true;
            const KnownOption* known = findKnown(name);
            if (known == nullptr) {
                unknown.push_back(argument);
            } else if (known->kind == OptionKind::Joined) {
                values[std::string(known->name)].push_back(name.substr(known->name.size()));
            } else if (known->kind == OptionKind::Value) {
                if (k + 1 < arguments.size())
                    values[name].push_back(arguments[++k]);
                else
                    missingValues.push_back(argument);
            }
        } else {
            files.push_back(argument);
        }
    }
}

std::optional<std::string> OptionList::value(std::string_view name) const {
    auto found = values.find(name);
    if (found == values.end() || found->second.empty()) return std::nullopt;
    return found->second.back();
}
