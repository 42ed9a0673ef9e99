#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "nscr/byte_buffer.h"

namespace nscr {

// Whole-file access. Failures raise Error with "path: " and strerror(errno).
ByteBuffer readFileBytes(const std::string& path);
std::string readWholeFile(const std::string& path);
// Creates or truncates the file and writes all of data; a failed write
// removes the partial file rather than leave half a page behind.
void writeWholeFile(const std::string& path, std::string_view data);
// The same for data held in pieces, written one after another in a single
// gathering write.
void writeWholeFile(const std::string& path, const std::vector<std::string_view>& pieces);
bool pathExists(const std::string& path);

}  // namespace nscr
