#include <algorithm>
#include <cstring>
#include <optional>

#include "analysis/builder.h"
#include "analysis/characters.h"

namespace analysis {

namespace {

// Finds "~" bytes in the game's raw text, which the engine scans as one
// text with a line end after each file. Jumps are met in script order, so
// each search starts where the last one may be reused: every pass is linear.
class TildeFinder {
public:
    explicit TildeFinder(const Model& model) : model_(model), next_(model.files.size()), back_(model.files.size()) {}

    // The first "~" at or after offset `from` of file, or of a later file.
    bool findForward(std::uint32_t file, std::size_t from, std::uint32_t& foundFile, std::size_t& found) {
        for (std::uint32_t f = file; f < model_.files.size(); ++f) {
            std::size_t start = f == file ? from : 0;
            std::size_t at = nextIn(f, start);
            if (at != std::string::npos) {
                foundFile = f;
                found = at;
                return true;
            }
        }
        return false;
    }

    // The last "~" before offset `before` of file, or of an earlier file.
    bool findBack(std::uint32_t file, std::size_t before, std::uint32_t& foundFile, std::size_t& found) {
        for (std::uint32_t f = file + 1; f-- > 0;) {
            std::size_t limit = f == file ? before : model_.files[f].bytes.size();
            std::size_t at = lastIn(f, limit);
            if (at != std::string::npos) {
                foundFile = f;
                found = at;
                return true;
            }
        }
        return false;
    }

private:
    struct Forward {
        std::size_t from = std::string::npos;  // the last search began here...
        std::size_t at = 0;                    // ...and found this (npos: none)
    };
    struct Backward {
        std::size_t scanned = 0;  // bytes before this were scanned...
        std::size_t last = std::string::npos;  // ...and held their last "~" here
    };

    std::size_t nextIn(std::uint32_t file, std::size_t from) {
        Forward& cache = next_[file];
        std::string_view bytes = model_.files[file].bytes;
        if (cache.from != std::string::npos && from >= cache.from && (cache.at == std::string::npos || from <= cache.at))
            return cache.at;
        const void* hit = from < bytes.size() ? std::memchr(bytes.data() + from, '~', bytes.size() - from) : nullptr;
        cache = {from, hit == nullptr ? std::string::npos : static_cast<std::size_t>(static_cast<const char*>(hit) - bytes.data())};
        return cache.at;
    }

    std::size_t lastIn(std::uint32_t file, std::size_t before) {
        Backward& cache = back_[file];
        std::string_view bytes = model_.files[file].bytes;
        if (before < cache.scanned) {
            // Earlier than any search so far: look afresh, without the cache.
            for (std::size_t at = before; at-- > 0;)
                if (bytes[at] == '~') return at;
            return std::string::npos;
        }
        for (std::size_t at = before; at-- > cache.scanned;)
            if (bytes[at] == '~') {
                cache.last = at;
                break;
            }
        cache.scanned = before;
        return cache.last;
    }

    const Model& model_;
    std::vector<Forward> next_;
    std::vector<Backward> back_;
};

// The line of a file that holds byte `offset`.
std::uint32_t lineAt(const Model& model, std::uint32_t file, std::size_t offset) {
    const FileInfo& info = model.fileInfo[file];
    auto first = model.lines.begin() + info.firstLine;
    auto last = first + info.lineCount;
    auto after = std::upper_bound(first, last, offset, [](std::size_t value, const Line& line) { return value < line.offset; });
    if (after == first) return 0;
    return static_cast<std::uint32_t>(after - first - 1);
}

// What the byte at column of a line is to the engine's reader.
TildeSite siteOf(const Model& model, std::uint32_t file, std::uint32_t line, std::uint32_t column) {
    std::uint32_t global = model.lineIndex(file, line);
    std::string_view text = model.lineText(file, line);
    input::Encoding encoding = model.files[file].encoding;
    std::size_t at = 0;
    while (at < column) at += characterSize(text, at, encoding);
    if (at != column) return TildeSite::TrailByte;
    auto [first, last] = model.spansOf(global);
    for (const Span* span = first; span != last; ++span) {
        if (column < span->begin || column >= span->end) continue;
        switch (span->kind()) {
            case SpanKind::Comment: return TildeSite::Comment;
            case SpanKind::String:
            case SpanKind::LabelRef: return TildeSite::String;
            case SpanKind::Text:
            case SpanKind::TextCode:
            case SpanKind::Ruby:
            case SpanKind::Tag:
            case SpanKind::TextButton: return TildeSite::Text;
            default: return TildeSite::Command;
        }
    }
    return model.lines[global].kind == LineKind::Text ? TildeSite::Text : TildeSite::Command;
}

// The number of lines a "skip N" statement names, from its bytes.
std::optional<long long> skipCount(std::string_view text, std::size_t at) {
    at = skipBlanks(text, at);
    bool negative = at < text.size() && text[at] == '-';
    if (negative) ++at;
    if (at >= text.size() || !isDigitByte(text[at])) return std::nullopt;
    long long count = 0;
    for (; at < text.size() && isDigitByte(text[at]) && count < 100000000; ++at) count = count * 10 + (text[at] - '0');
    return negative ? -count : count;
}

}  // namespace

void resolveJumps(Model& model) {
    TildeFinder finder(model);
    for (Jump& jump : model.jumps) {
        const Line& line = model.line(jump.from.file, jump.from.line);
        std::size_t wordEndOffset = line.offset + jump.from.column + jump.length;
        std::uint32_t file = 0;
        std::size_t found = 0;
        if (jump.kind == JumpKind::Skip) {
            auto count = skipCount(model.lineText(jump.from.file, jump.from.line), jump.from.column + jump.length);
            long long target = static_cast<long long>(jump.from.line) + count.value_or(0);
            bool inside = count && target >= 0 && target < static_cast<long long>(model.fileInfo[jump.from.file].lineCount);
            jump.site = inside ? TildeSite::Command : TildeSite::Missing;
            if (inside) jump.to = {jump.from.file, static_cast<std::uint32_t>(target), 0};
            continue;
        }
        bool hit = jump.kind == JumpKind::Forward
                       ? finder.findForward(jump.from.file, wordEndOffset, file, found)
                       : finder.findBack(jump.from.file, line.offset + jump.from.column, file, found);
        if (!hit) {
            jump.site = TildeSite::Missing;
            continue;
        }
        std::uint32_t local = lineAt(model, file, found);
        auto column = static_cast<std::uint32_t>(found - model.line(file, local).offset);
        jump.to = {file, local, column};
        jump.site = siteOf(model, file, local, column);
    }
}

}  // namespace analysis
