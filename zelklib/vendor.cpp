#include <algorithm>
#include <vector>

#include "vendor_table.h"
#include "zelk.h"

namespace {

uint32_t oui_key(const uint8_t* b) { return (uint32_t{b[0]} << 16) | (uint32_t{b[1]} << 8) | b[2]; }

// One entry per prefix, sorted by prefix, each naming the first row of the
// table that holds it; built on first use.
const std::vector<std::pair<uint32_t, const char*>>& vendor_index() {
    static const std::vector<std::pair<uint32_t, const char*>> index = [] {
        std::vector<std::pair<uint32_t, const char*>> v;
        v.reserve(vendor_table_size);
        for (size_t i = 0; i < vendor_table_size; ++i) v.emplace_back(oui_key(vendor_table[i].oui), vendor_table[i].name);
        std::stable_sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        v.erase(std::unique(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                v.end());
        return v;
    }();
    return index;
}

}  // namespace

const char* zelk_vendor_name(const uint8_t* mac) {
    const auto& index = vendor_index();
    uint32_t key = oui_key(mac);
    auto it = std::lower_bound(index.begin(), index.end(), key,
                               [](const auto& entry, uint32_t k) { return entry.first < k; });
    if (it != index.end() && it->first == key) return it->second;
    return "Unknown";
}
