#include "analysis/model.h"

#include <algorithm>

#include "analysis/characters.h"

namespace analysis {

std::string_view Model::lineText(std::uint32_t file, std::uint32_t line) const {
    const Line& where = this->line(file, line);
    return std::string_view(files[file].bytes).substr(where.offset, where.length);
}

std::string Model::keyOf(const Symbol& symbol) const { return lowerCase(nameOf(symbol)); }

std::uint32_t Model::textStart(std::uint32_t file, std::uint32_t line) const {
    return textStart(this->line(file, line), lineText(file, line));
}

std::uint32_t Model::textStart(const Line& line, std::string_view text) {
    return static_cast<std::uint32_t>(line.kind == LineKind::Text ? skipBlanks(text, 0) : text.size());
}

std::pair<const Span*, const Span*> Model::spansOf(std::uint32_t globalLine) const {
    std::uint32_t first = lines[globalLine].firstSpan;
    std::uint32_t last = globalLine + 1 < lines.size() ? lines[globalLine + 1].firstSpan : static_cast<std::uint32_t>(spans.size());
    return {spans.data() + first, spans.data() + last};
}

std::uint32_t Model::find(SymbolKind kind, std::string_view key) const { return find(kind, key, nameHash(key)); }

std::uint32_t Model::find(SymbolKind kind, std::string_view key, std::uint32_t hash) const {
    const nscr::BigArray<KeySlot>& table = keyTables[tableOf(kind, hash)];
    if (table.empty()) return none;
    std::size_t mask = table.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const KeySlot& slot = table[at];
        if (slot.first == none) return none;
        if (slot.hash == hash && sameName(slot.key(), key)) return slot.first;
    }
}

bool Model::mayName(SymbolKind kind, std::uint32_t hash) const {
    const nscr::BigArray<KeySlot>& table = keyTables[tableOf(kind, hash)];
    if (table.empty()) return false;
    std::size_t mask = table.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        if (table[at].first == none) return false;
        if (table[at].hash == hash) return true;
    }
}

std::uint32_t Model::findAlias(std::string_view key) const { return findAlias(key, nameHash(key)); }

std::uint32_t Model::findAlias(std::string_view key, std::uint32_t hash) const {
    std::uint32_t alias = find(SymbolKind::NumAlias, key, hash);
    return alias != none ? alias : find(SymbolKind::StrAlias, key, hash);
}

std::vector<std::uint32_t> Model::definitionsOf(SymbolKind kind, std::string_view key) const {
    std::vector<std::uint32_t> all;
    for (std::uint32_t k = find(kind, key); k != none; k = symbols[k].nextOfKey) all.push_back(k);
    return all;
}

std::pair<const std::uint32_t*, const std::uint32_t*> Model::referencesTo(std::uint32_t symbol) const {
    const Symbol& label = symbols[symbol];
    std::uint32_t first = label.firstOfKey;
    if (first == none || first + 1 >= refsStart.size()) return {nullptr, nullptr};
    return {refsByLabel.data() + refsStart[first], refsByLabel.data() + refsStart[first + 1]};
}

std::uint32_t Model::fileOfLine(std::uint32_t globalLine) const {
    auto after = std::upper_bound(fileInfo.begin(), fileInfo.end(), globalLine,
                                  [](std::uint32_t value, const FileInfo& info) { return value < info.firstLine; });
    return after == fileInfo.begin() ? 0 : static_cast<std::uint32_t>(after - fileInfo.begin() - 1);
}

std::uint32_t Model::lineOfSpan(std::uint32_t span) const {
    auto after = std::upper_bound(lines.begin(), lines.end(), span,
                                  [](std::uint32_t value, const Line& line) { return value < line.firstSpan; });
    return after == lines.begin() ? 0 : static_cast<std::uint32_t>(after - lines.begin() - 1);
}

std::string_view symbolKindName(SymbolKind kind) {
    switch (kind) {
        case SymbolKind::Label: return "label";
        case SymbolKind::UserCommand: return "user command";
        case SymbolKind::NumAlias: return "numalias";
        case SymbolKind::StrAlias: return "stralias";
    }
    return "label";
}

}  // namespace analysis
