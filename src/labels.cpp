#include "labels.h"

#include <algorithm>
#include <bit>
#include <cstring>

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

namespace {

// The word with its ASCII capitals in lower case, all eight bytes at once: a
// byte's high bit marks it as from "A" to "Z" where adding to its low seven
// bits reaches 0x80 from "A" on but not past "Z".
std::uint64_t foldedWord(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    std::uint64_t low = word & ~highs;
    std::uint64_t fromA = low + ones * (0x80 - 'A');
    std::uint64_t pastZ = low + ones * (0x80 - 'Z' - 1);
    std::uint64_t capitals = (fromA ^ pastZ) & ~word & highs;
    return word | capitals >> 2;
}

}  // namespace

std::uint32_t labelHash(std::string_view key) {
    // Eight bytes at a time, in lower case, each word mixed in by a
    // multiply; the last word is the key's last eight bytes, and a shorter
    // key is gathered byte by byte (a word stored in pieces and read whole
    // would stall). The end mixes every bit into every other, so that names
    // that differ only in their last bytes ("scene1", "scene2") fall far
    // apart in a table.
    std::uint64_t hash = 0x9E3779B97F4A7C15u ^ key.size();
    auto mix = [&hash](std::uint64_t word) { hash = std::rotl((hash ^ foldedWord(word)) * 0xBF58476D1CE4E5B9u, 31); };
    auto wordAt = [](const char* at) {
        std::uint64_t word;
        std::memcpy(&word, at, sizeof word);
        return word;
    };
    const char* at = key.data();
    std::size_t left = key.size();
    if (left >= 8) {
        for (; left > 8; at += 8, left -= 8) mix(wordAt(at));
        mix(wordAt(at + left - 8));
    } else {
        std::uint64_t word = 0;
        for (std::size_t k = 0; k < left; ++k) word |= static_cast<std::uint64_t>(static_cast<unsigned char>(at[k])) << (8 * k);
        mix(word);
    }
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDu;
    hash ^= hash >> 33;
    hash *= 0xC4CEB9FE1A85EC53u;
    hash ^= hash >> 33;
    return static_cast<std::uint32_t>(hash);
}

PageLabels::PageLabels(const LabelMarks& labels, std::string_view names)
    : labels_(labels), names_(names), ordinals_(labels.size()) {
    std::size_t definitions = 0;
    for (const LabelMark& mark : labels) definitions += mark.definition ? 1 : 0;
    slots_.resize(std::bit_ceil(std::max<std::size_t>(16, definitions + definitions / 2 + 1)));
    for (std::size_t k = 0; k < labels.size(); ++k) {
        if (!labels[k].definition) continue;
        Slot& slot = slotOf(k);
        if (slot.first == 0) {
            slot = {labels[k].hash, static_cast<std::uint32_t>(k + 1)};
            ordinals_[k] = 1;
        } else {
            ordinals_[k] = ++repeated_.try_emplace(slot.first, 1).first->second;
        }
    }
}

// The slot of the name of label k, or the free one where it goes.
PageLabels::Slot& PageLabels::slotOf(std::size_t k) {
    const std::size_t mask = slots_.size() - 1;
    const std::uint32_t hash = labels_[k].hash;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        Slot& slot = slots_[at];
        if (slot.first == 0 || (slot.hash == hash && sameKey(slot, k))) return slot;
    }
}

const PageLabels::Slot* PageLabels::find(std::size_t k) const {
    const std::size_t mask = slots_.size() - 1;
    const std::uint32_t hash = labels_[k].hash;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.first == 0) return nullptr;
        if (slot.hash == hash && sameKey(slot, k)) return &slot;
    }
}

const LabelMark* PageLabels::firstDefinition(std::size_t k) const {
    const Slot* slot = find(k);
    return slot == nullptr ? nullptr : &labels_[slot->first - 1];
}

void LabelDirectory::addPage(const PageLabels& labels, const std::string& pagePath) {
    for (std::size_t k = 0; k < labels.size(); ++k)
        if (labels.ordinal(k) == 1) targets_.try_emplace(std::string(labels.key(k)), Target{pagePath});
}

const LabelDirectory::Target* LabelDirectory::find(std::string_view key) const {
    auto found = targets_.find(key);
    return found == targets_.end() ? nullptr : &found->second;
}
