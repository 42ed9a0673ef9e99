#pragma once

#include <stdexcept>
#include <string>

namespace nscr {

// Every failure in the converter is raised as an Error carrying one message
// text; the driver prints it verbatim.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace nscr
