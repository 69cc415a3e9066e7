#include "format/plist/value.h"

namespace varko::plist {

const Value* Dictionary::find(std::string_view key) const {
    auto it = index.find(key);
    return it == index.end() ? nullptr : &entries[it->second].second;
}

void Dictionary::set(std::string key, Value value) {
    if (auto it = index.find(key); it != index.end()) {
        entries[it->second].second = std::move(value);
        return;
    }
    index.emplace(key, entries.size());
    entries.emplace_back(std::move(key), std::move(value));
}

bool operator==(const Dictionary& a, const Dictionary& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [key, value] : a) {
        const Value* other = b.find(key);
        if (!other || !(*other == value)) return false;
    }
    return true;
}

}  // namespace varko::plist
