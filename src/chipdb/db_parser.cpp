// flash_db.cfg records: one chip per line, "name=" at the start of the line.
#include <cstdio>
#include <string>

#include "config/file_search.h"
#include "run/tamrel.h"

int DB_Parser(const char* line, CTAMREL* pgm) {
    Setup_struct* s = pgm->setup;
    int found = 0;

    printf("\nDevice name:\t");
    if (!s->has_device_name) s->device_name = pgm->Get_env_txt(line, "name", &found);
    printf("\"%s\"", s->device_name.c_str());

    long value = pgm->Get_env_val(line, "mnfid", &found);
    if (found != 1) {
        printf("\nflash_db.cfg file: 'mnfid' syntax error\n");
        return -1;
    }
    s->mnf_id = static_cast<uint8_t>(value);

    value = pgm->Get_env_val(line, "page", &found);
    if (found == 1) {
        s->page_size = static_cast<uint16_t>(value);
        s->has_page_size = 1;
    } else {
        s->page_size = 256;
    }

    value = pgm->Get_env_val(line, "block", &found);
    if (found == 1) {
        s->block_size = static_cast<uint32_t>(value);
        s->has_block_size = 1;
    } else {
        s->block_size = 4096;
    }

    value = pgm->Get_env_val(line, "sector", &found);
    if (found == 1) {
        s->sector_size = static_cast<uint32_t>(value);
        s->has_sector_size = 1;
    } else {
        s->sector_size = 0x10000;
    }

    value = pgm->Get_env_val(line, "volime", &found);
    if (found != 1) {
        printf("\nflash_db.cfg file: 'volime' syntax error\n");
        return -1;
    }
    s->total_size = static_cast<uint32_t>(value);
    s->has_total_size = 1;

    value = pgm->Get_env_val(line, "freq", &found);
    s->freq = (found == 1) ? static_cast<uint16_t>(value) : 1;
    return 1;
}

int CTAMREL::Id_ByName() {
    std::string key = "\nname=" + setup->device_name;
    std::string line;
    int result = 0;

    key_pos = 0;
    Get_keyString(Config_File_Path(setup, FLASH_DB_CFG), &line, key.c_str(), result);
    if (result == -1) return -1;
    if (result != 1) {
        printf("\nCan't find chip in 'flash_db.cfg'\n");
        return -1;
    }
    return DB_Parser(line.c_str(), this) == 1 ? 1 : -1;
}
