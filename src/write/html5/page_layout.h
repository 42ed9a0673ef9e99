#pragma once

// Where every line of a run lives among its reading pages: a script of more
// lines than the limit is cut into parts, each cut at a label line near the
// limit, and each part is a page of its own. Links ask this one place.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/model.h"

namespace writers::html5 {

struct PagePart {
    std::uint32_t file = 0;
    std::uint32_t firstLine = 0;  // the file's lines [firstLine, endLine), from 0
    std::uint32_t endLine = 0;
    std::uint32_t number = 1;     // 1 for a file's first part
    std::string path;             // where the page is written
};

// The lines of a part page is cut near; 0 never cuts.
inline constexpr std::size_t defaultSplitLines = 20000;

class PageLayout {
public:
    // pagePaths: the page of each file of the model (its first part); the
    // other parts are named "a.txt.2.html" and so on beside it.
    PageLayout(const analysis::Model& model, const std::vector<std::string>& pagePaths, std::size_t splitLines);

    const std::vector<PagePart>& parts() const { return parts_; }
    // The part holding a line of a file.
    std::size_t partOf(std::uint32_t file, std::uint32_t line) const;
    // The parts of a file: [first, last).
    std::pair<std::size_t, std::size_t> partsOfFile(std::uint32_t file) const;
    // A link from the page of part `from` to an element id on the page of
    // part `to` ("#id" on the same page), escaped for an attribute.
    std::string href(std::size_t from, std::size_t to, std::string_view id) const;
    // The same to any path (the front page), from part `from`.
    std::string hrefToPath(std::size_t from, const std::string& path, std::string_view id) const;
    // The page of a part as an absolute, normal path.
    const std::filesystem::path& absolutePath(std::size_t part) const { return absolutePaths_[part]; }

private:
    std::vector<PagePart> parts_;
    std::vector<std::size_t> firstPartOfFile_;
    // Each part's page as an absolute path, worked out once: a game's pages
    // link to each other many thousand times.
    std::vector<std::filesystem::path> absolutePaths_;
};

// A relative URL from the page at fromPath to the file at toPath, every byte
// that means something in a URL percent-encoded, then escaped for HTML; with
// "#id" when id is not empty.
std::string relativeHref(const std::string& fromPath, const std::string& toPath, std::string_view id);
// The same between paths made absolute and normal already.
std::string relativeHref(const std::filesystem::path& fromAbsolute, const std::filesystem::path& toAbsolute,
                         std::string_view id);
// A path made absolute and normal, as relativeHref takes it.
std::filesystem::path absoluteNormal(const std::string& path);

// The page name of a part: "a.txt.html" for the first, "a.txt.2.html" after.
std::string partPath(const std::string& firstPagePath, std::uint32_t number);

}  // namespace writers::html5
