#include "cmdline.h"

OptionList::OptionList(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (!argument.empty() && argument.front() == '-') {
            options[argument.substr(1)] = true;
        } else {
            files.push_back(argument);
        }
    }
}
