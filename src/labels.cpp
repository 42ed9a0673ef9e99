#include "labels.h"

#include <algorithm>
#include <bit>
#include <functional>

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
    std::size_t definitions = 0;
    for (const LabelMark& mark : labels) definitions += mark.definition ? 1 : 0;
    names_.resize(std::bit_ceil(std::max<std::size_t>(16, 2 * definitions)));
    for (std::size_t k = 0; k < labels.size(); ++k) {
        if (!labels[k].definition) continue;
        Name& name = slotOf(keys_[k]);
        if (name.count == 0) name = {keys_[k], k, 0};
        ordinals_[k] = ++name.count;
    }
}

namespace {
std::size_t hashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }
}  // namespace

// The slot of the key, or the free one where it goes.
PageLabels::Name& PageLabels::slotOf(std::string_view key) {
    const std::size_t mask = names_.size() - 1;
    for (std::size_t at = hashOf(key) & mask;; at = (at + 1) & mask)
        if (names_[at].count == 0 || names_[at].key == key) return names_[at];
}

const PageLabels::Name* PageLabels::find(std::string_view key) const {
    const std::size_t mask = names_.size() - 1;
    for (std::size_t at = hashOf(key) & mask;; at = (at + 1) & mask) {
        if (names_[at].count == 0) return nullptr;
        if (names_[at].key == key) return &names_[at];
    }
}

const LabelMark* PageLabels::firstDefinition(std::string_view key) const {
    const Name* name = find(key);
    return name == nullptr ? nullptr : &labels_[name->first];
}

void LabelDirectory::addPage(const PageLabels& labels, const std::string& pagePath) {
    for (std::size_t k = 0; k < labels.size(); ++k)
        if (labels.ordinal(k) == 1) targets_.try_emplace(std::string(labels.key(k)), Target{pagePath});
}

const LabelDirectory::Target* LabelDirectory::find(std::string_view key) const {
    auto found = targets_.find(key);
    return found == targets_.end() ? nullptr : &found->second;
}
