#pragma once

// The front page of a game or a run: its files in the engine's order with
// the engine lines each covers, the files the engine leaves aside, every
// label with a filter, and a box that opens an engine place ("7425",
// "*label", "*label:offset", "file:line").

#include <string>
#include <vector>

#include "analysis/model.h"
#include "input/game_loader.h"
#include "nscr/byte_buffer.h"
#include "write/html5/page_layout.h"

namespace writers::html5 {

struct FrontPage {
    std::string title;
    std::vector<input::SkippedFile> notRead;
    const std::vector<analysis::Finding>* findings = nullptr;  // in script order
};

// The page written at path (links are made relative to it), into buffer:
// the view given, its first bytes.
std::string_view writeFrontPage(const analysis::Model& model, const PageLayout& layout, const FrontPage& front,
                                const std::string& path, nscr::ByteBuffer& buffer);
std::string frontPage(const analysis::Model& model, const PageLayout& layout, const FrontPage& front,
                      const std::string& path);

}  // namespace writers::html5
