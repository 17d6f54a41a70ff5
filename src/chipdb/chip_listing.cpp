#include "chipdb/chip_listing.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "chipdb/chip_db.h"
#include "chipdb/chip_record.h"
#include "config/file_search.h"
#include "run/tamrel.h"

namespace {

struct Entry {
    std::string name;
    std::string ids;   // "0xMM 0xJJJJ", with " 0xEEEE" for an extid= value
    std::string size;  // or why the record can't be used
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Size_Text(uint32_t bytes) {
    char text[32];
    if (bytes != 0 && bytes % 0x100000 == 0)
        snprintf(text, sizeof text, "%u MiB", bytes / 0x100000);
    else if (bytes != 0 && bytes % 0x400 == 0)
        snprintf(text, sizeof text, "%u KiB", bytes / 0x400);
    else
        snprintf(text, sizeof text, "%u bytes", bytes);
    return text;
}

Entry Describe(CTAMREL* pgm, const std::string& line) {
    ChipRecord rec;
    std::string why;
    const int parsed = Parse_Chip_Record(pgm, line.c_str(), &rec, &why);
    Entry e{rec.name, "", ""};
    if (parsed != 1) {
        e.size = "not usable: " + why;
        return e;
    }
    char text[32];
    snprintf(text, sizeof text, "0x%02X", rec.mnf_id);
    e.ids = text;
    if (rec.has_jedec) snprintf(text, sizeof text, " 0x%04X", rec.jedec_id), e.ids += text;
    if (rec.extid == EXTID_VALUE) snprintf(text, sizeof text, " 0x%04X", rec.ext_id), e.ids += text;
    e.size = Size_Text(rec.total_size);
    return e;
}

}  // namespace

int Chip_Listing(CTAMREL* pgm, const std::string& filter) {
    std::vector<std::string> files = Chip_Db_Search();
    if (files.empty()) files.push_back("flash_db.cfg");  // opening it says that it is missing
    const std::string wanted = Lower(filter);
    std::vector<std::vector<Entry>> listed(files.size());
    size_t width = 0;
    for (size_t f = 0; f < files.size(); f++) {
        pgm->key_pos = 0;
        std::string line;
        int r = 0;
        while ((r = Chip_Db_Next(pgm, files[f], &line)) == 1) {
            Entry e = Describe(pgm, line);
            if (Lower(e.name).find(wanted) == std::string::npos) continue;
            width = std::max(width, e.name.size());
            listed[f].push_back(e);
        }
        if (r == -1) return -1;
    }
    for (size_t f = 0; f < files.size(); f++) {
        printf("\nChips in %s:", files[f].c_str());
        if (listed[f].empty()) printf("\n  none");
        for (const Entry& e : listed[f])
            printf("\n  %-*s  %-18s  %7s", static_cast<int>(width), e.name.c_str(), e.ids.c_str(),
                   e.size.c_str());
    }
    printf("\n");
    return 1;
}
