#include "cmdline.h"

OptionList::OptionList(const std::vector<std::string>& arguments) {
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (!optionsEnded && argument == "--") {
            // Everything after "--" is a file, so that "-x.txt" can be named.
            optionsEnded = true;
        } else if (!optionsEnded && !argument.empty() && argument.front() == '-') {
            options[argument.substr(1)] = true;
        } else {
            files.push_back(argument);
        }
    }
}
