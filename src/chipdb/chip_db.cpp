#include "chipdb/chip_db.h"

#include <cctype>
#include <cstdio>

#include "config/file_search.h"
#include "run/tamrel.h"

namespace {

bool Begins_Ignoring_Case(const std::string& text, const std::string& start) {
    if (text.size() < start.size()) return false;
    for (size_t i = 0; i < start.size(); i++)
        if (tolower(static_cast<unsigned char>(text[i])) !=
            tolower(static_cast<unsigned char>(start[i])))
            return false;
    return true;
}

}  // namespace

std::vector<std::string> Chip_Db_Files(CTAMREL* pgm) {
    std::vector<std::string> files = {Config_File_Path(pgm->setup, FLASH_DB_CFG)};
    if (!pgm->setup->db_installed.empty()) files.push_back(pgm->setup->db_installed);
    return files;
}

void Chip_Db_Taken_From(CTAMREL* pgm, const std::string& path) {
    Setup_struct* s = pgm->setup;
    if (path.empty() || path != s->db_installed || s->db_installed_named) return;
    printf("\nUsing %s", path.c_str());
    s->db_installed_named = 1;
}

int Chip_Db_Next(CTAMREL* pgm, const std::string& file, std::string* line) {
    int result = 0;
    pgm->Get_keyString(file.c_str(), line, "\nname=", result);
    return result == 1 ? 1 : result == -1 ? -1 : 0;
}

int Chip_Db_ByName(CTAMREL* pgm, const std::string& name, std::string* line, std::string* path) {
    const std::string key = "\nname=" + name;
    std::string loose, loose_path;  // the first record that matches regardless of case
    for (const std::string& file : Chip_Db_Files(pgm)) {
        pgm->key_pos = 0;
        std::string record;
        int r = 0;
        while ((r = Chip_Db_Next(pgm, file, &record)) == 1) {
            if (record.compare(0, key.size(), key) == 0) {
                *line = record, *path = file;
                return 1;
            }
            if (loose.empty() && Begins_Ignoring_Case(record, key))
                loose = record, loose_path = file;
        }
        if (r == -1) return -1;
    }
    if (loose.empty()) return 0;
    *line = loose, *path = loose_path;
    return 1;
}
