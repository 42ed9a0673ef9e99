#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// The command line sorted into options ("-name") and file names.
struct OptionList {
    std::map<std::string, bool, std::less<>> options;
    std::vector<std::string> files;

    OptionList() = default;
    explicit OptionList(const std::vector<std::string>& arguments);

    bool hasOption(std::string_view name) const { return options.find(name) != options.end(); }
};
