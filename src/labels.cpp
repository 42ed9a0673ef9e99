#include "labels.h"

std::string labelKey(std::string_view name) {
    std::string key(name);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

void appendLabelId(std::string& out, std::string_view key, int ordinal) {
    out += "l-";
    out += key;
    if (ordinal <= 1) return;
    out += '-';
    out += std::to_string(ordinal);
}

std::string labelId(std::string_view key, int ordinal) {
    std::string id;
    appendLabelId(id, key, ordinal);
    return id;
}

PageLabels::PageLabels(const LabelMarks& labels, std::vector<std::string_view> keys)
    : labels_(labels), keys_(std::move(keys)), ordinals_(labels.size()) {
    names_.reserve(labels.size());
    for (std::size_t k = 0; k < labels.size(); ++k) {
        if (!labels[k].definition) continue;
        auto [name, fresh] = names_.try_emplace(keys_[k], Name{k, 0});
        ordinals_[k] = ++name->second.count;
    }
}

const LabelMark* PageLabels::firstDefinition(std::string_view key) const {
    auto found = names_.find(key);
    return found == names_.end() ? nullptr : &labels_[found->second.first];
}

void LabelDirectory::addPage(const PageLabels& labels, const std::string& pagePath) {
    for (std::size_t k = 0; k < labels.size(); ++k)
        if (labels.ordinal(k) == 1) targets_.try_emplace(std::string(labels.key(k)), Target{pagePath});
}

const LabelDirectory::Target* LabelDirectory::find(std::string_view key) const {
    auto found = targets_.find(key);
    return found == targets_.end() ? nullptr : &found->second;
}
