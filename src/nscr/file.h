#pragma once

#include <string>
#include <string_view>

namespace nscr {

// Whole-file access. Failures raise Error with "path: " and strerror(errno).
std::string readWholeFile(const std::string& path);
// Creates or truncates the file and writes all of data; a failed write
// removes the partial file rather than leave half a page behind.
void writeWholeFile(const std::string& path, std::string_view data);
bool pathExists(const std::string& path);
// Asks the system to back the whole 2 MB pages within [data, data + size)
// with huge pages: a large buffer filled from start to end then takes a
// few page faults instead of hundreds.
void adviseHugePages(char* data, std::size_t size);

}  // namespace nscr
