#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How a known option is given: alone, with the next argument as its value
// ("-o DIR"), or with its value joined to its name ("-check=NAME").
enum class OptionKind { Flag, Value, Joined };

struct KnownOption {
    std::string_view name;  // without the leading "-"; a Joined name ends in "="
    OptionKind kind;
};

// Every option the program knows, including those kept for later use.
const std::vector<KnownOption>& knownOptions();

// The known option closest to an unknown name ("-lineno" for "--lineno"),
// with its leading "-"; none when nothing is near.
std::optional<std::string> nearestOption(std::string_view name);

// The command line sorted into options ("-name") and file names.
struct OptionList {
    std::map<std::string, bool, std::less<>> options;
    std::vector<std::string> files;
    // The values of value options, in the order given.
    std::map<std::string, std::vector<std::string>, std::less<>> values;
    // Options the program does not know, as given; they have no effect.
    std::vector<std::string> unknown;
    // Value options given last, with no value after them.
    std::vector<std::string> missingValues;

    OptionList() = default;
    explicit OptionList(const std::vector<std::string>& arguments);

    bool hasOption(std::string_view name) const { return options.find(name) != options.end(); }
    // The last value given to a value option.
    std::optional<std::string> value(std::string_view name) const;
};
