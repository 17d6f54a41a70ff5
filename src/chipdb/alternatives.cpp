#include "chipdb/alternatives.h"

#include <algorithm>

namespace {

bool erase_agrees(const ChipRecord& r, const SfdpGeometry& geo) {
    for (int i = 0; i < geo.erase_count; ++i) {
        for (const EraseItem& item : r.erase) {
            if (item.opcode != geo.erase[i].opcode) continue;
            if (std::find(item.sizes.begin(), item.sizes.end(), geo.erase[i].size) ==
                item.sizes.end())
                return false;
        }
    }
    return true;
}

}  // namespace

std::vector<int> Sfdp_Confirms(const std::vector<ChipRecord>& records, const SfdpGeometry& geo) {
    std::vector<int> left;
    for (size_t i = 0; i < records.size(); ++i) left.push_back(static_cast<int>(i));
    const auto keep = [&](bool (*agrees)(const ChipRecord&, const SfdpGeometry&)) {
        left.erase(std::remove_if(left.begin(), left.end(),
                                  [&](int i) { return !agrees(records[i], geo); }),
                   left.end());
    };
    keep([](const ChipRecord& r, const SfdpGeometry& g) { return r.total_size == g.total_size; });
    keep([](const ChipRecord& r, const SfdpGeometry& g) {
        return !g.page_known || r.page_size == g.page_size;
    });
    keep(erase_agrees);
    return left;
}

bool Erase_Whole_Alike(const std::vector<ChipRecord>& records) {
    const ChipRecord& first = records.front();
    if (first.chip_erase == 0 && first.die_erase == 0) return false;  // unit by unit
    for (const ChipRecord& r : records) {
        if (r.chip_erase != first.chip_erase || r.die_erase != first.die_erase ||
            r.die_size != first.die_size || r.total_size != first.total_size)
            return false;
    }
    return true;
}
