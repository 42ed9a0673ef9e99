#include "write/html5/page_layout.h"

#include <algorithm>
#include <filesystem>

#include "html5.h"

namespace writers::html5 {

namespace {

// Where to cut a file's lines after `from`: a label line near from + limit
// (a tenth of the limit either side, before first), or from + limit itself.
std::uint32_t cutAfter(const analysis::Model& model, std::uint32_t file, std::uint32_t from, std::size_t limit) {
    const analysis::FileInfo& info = model.fileInfo[file];
    std::uint32_t target = from + static_cast<std::uint32_t>(limit);
    std::uint32_t reach = static_cast<std::uint32_t>(std::max<std::size_t>(1, limit / 10));
    auto isLabel = [&](std::uint32_t line) { return model.lines[info.firstLine + line].kind == analysis::LineKind::Label; };
    for (std::uint32_t back = 0; back < reach && target - back > from + 1; ++back)
        if (isLabel(target - back)) return target - back;
    for (std::uint32_t ahead = 1; ahead < reach && target + ahead < info.lineCount; ++ahead)
        if (isLabel(target + ahead)) return target + ahead;
    return target;
}

}  // namespace

std::string partPath(const std::string& firstPagePath, std::uint32_t number) {
    if (number <= 1) return firstPagePath;
    std::string path = firstPagePath;
    constexpr std::string_view suffix = ".html";
    if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
        path.resize(path.size() - suffix.size());
    return path + "." + std::to_string(number) + ".html";
}

PageLayout::PageLayout(const analysis::Model& model, const std::vector<std::string>& pagePaths, std::size_t splitLines) {
    for (std::uint32_t file = 0; file < model.fileInfo.size(); ++file) {
        firstPartOfFile_.push_back(parts_.size());
        std::uint32_t count = model.fileInfo[file].lineCount;
        std::uint32_t first = 0;
        std::uint32_t number = 1;
        do {
            std::uint32_t end = count;
            if (splitLines != 0 && count - first > splitLines + splitLines / 10)
                end = cutAfter(model, file, first, splitLines);
            parts_.push_back({file, first, end, number, partPath(pagePaths[file], number)});
            first = end;
            ++number;
        } while (first < count);
    }
    firstPartOfFile_.push_back(parts_.size());
    for (const PagePart& part : parts_) absolutePaths_.push_back(absoluteNormal(part.path));
}

std::size_t PageLayout::partOf(std::uint32_t file, std::uint32_t line) const {
    auto first = parts_.begin() + static_cast<std::ptrdiff_t>(firstPartOfFile_[file]);
    auto last = parts_.begin() + static_cast<std::ptrdiff_t>(firstPartOfFile_[file + 1]);
    auto after = std::upper_bound(first, last, line, [](std::uint32_t value, const PagePart& part) { return value < part.firstLine; });
    return static_cast<std::size_t>((after == first ? first : after - 1) - parts_.begin());
}

std::pair<std::size_t, std::size_t> PageLayout::partsOfFile(std::uint32_t file) const {
    return {firstPartOfFile_[file], firstPartOfFile_[file + 1]};
}

std::string PageLayout::href(std::size_t from, std::size_t to, std::string_view id) const {
    if (from == to) {
        std::string href = "#";
        ::html5::appendEscaped(href, ::html5::hrefOfFile(id));
        return href;
    }
    return relativeHref(absolutePaths_[from], absolutePaths_[to], id);
}

std::string PageLayout::hrefToPath(std::size_t from, const std::string& path, std::string_view id) const {
    return relativeHref(absolutePaths_[from], absoluteNormal(path), id);
}

std::filesystem::path absoluteNormal(const std::string& path) {
    std::error_code error;
    return std::filesystem::absolute(path, error).lexically_normal();
}

// Both made absolute first, so that a page given by an absolute path and
// one given by a relative path still link relatively.
std::string relativeHref(const std::string& fromPath, const std::string& toPath, std::string_view id) {
    return relativeHref(absoluteNormal(fromPath), absoluteNormal(toPath), id);
}

std::string relativeHref(const std::filesystem::path& fromAbsolute, const std::filesystem::path& toAbsolute,
                         std::string_view id) {
    namespace fs = std::filesystem;
    fs::path from = fromAbsolute.parent_path();
    const fs::path& to = toAbsolute;
    fs::path relative = to.lexically_relative(from);
    if (relative.empty()) relative = to.filename();
    std::string href = ::html5::hrefOfFile(relative.generic_string());
    if (!id.empty()) {
        href += "#";
        href += ::html5::hrefOfFile(id);
    }
    return ::html5::escaped(href);
}

}  // namespace writers::html5
