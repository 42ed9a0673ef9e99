#include "labels.h"

#include <unordered_map>

std::string labelKey(std::string_view name) {
    std::string key(name);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

std::string labelId(std::string_view name) { return "l-" + labelKey(name); }

void LabelDirectory::addPage(const std::vector<LabelMark>& labels, const std::string& pageLink) {
    std::vector<std::string> ids = definitionIds(labels);
    std::size_t k = 0;
    for (const LabelMark& mark : labels) {
        if (!mark.definition) continue;
        targets_.try_emplace(labelKey(mark.name), Target{pageLink, ids[k++]});
    }
}

const LabelDirectory::Target* LabelDirectory::find(std::string_view name) const {
    auto found = targets_.find(labelKey(name));
    return found == targets_.end() ? nullptr : &found->second;
}

std::vector<std::string> definitionIds(const std::vector<LabelMark>& labels,
                                       std::vector<DuplicateLabel>* duplicates) {
    struct Seen {
        std::int64_t firstLine;
        int count;
    };
    std::unordered_map<std::string, Seen> seen;
    std::vector<std::string> ids;
    for (const LabelMark& mark : labels) {
        if (!mark.definition) continue;
        auto [it, fresh] = seen.try_emplace(labelKey(mark.name), Seen{mark.line, 0});
        int count = ++it->second.count;
        if (fresh) {
            ids.push_back(labelId(mark.name));
            continue;
        }
        ids.push_back(labelId(mark.name) + "-" + std::to_string(count));
        if (duplicates) duplicates->push_back({&mark, it->second.firstLine});
    }
    return ids;
}
