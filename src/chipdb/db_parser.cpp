// flash_db.cfg records: one chip per line, "name=" at the start of the line.
#include <cstdio>
#include <string>

#include "chipdb/chip_db.h"
#include "chipdb/chip_record.h"
#include "run/tamrel.h"

int DB_Parser(const char* line, CTAMREL* pgm) {
    Setup_struct* s = pgm->setup;
    printf("\nDevice name:\t");
    ChipRecord rec;
    std::string why;
    const int r = Parse_Chip_Record(pgm, line, &rec, &why);
    s->record_name = rec.name;
    if (!s->has_device_name) s->device_name = rec.name;
    printf("\"%s\"", s->device_name.c_str());
    if (r != 1) {
        printf(r == 0 ? "\n%s\n" : "\nError: %s\n", why.c_str());
        return -1;
    }

    s->mnf_id = rec.mnf_id;
    s->page_size = rec.page_size;
    s->block_size = rec.block_size;
    s->sector_size = rec.sector_size;
    s->total_size = rec.total_size;
    if (rec.has_page) s->has_page_size = 1;
    if (rec.has_block) s->has_block_size = 1;
    if (rec.has_sector) s->has_sector_size = 1;
    s->has_total_size = 1;
    s->freq = rec.freq;
    s->cmd_chip_erase = rec.chip_erase;
    s->addr4_mode = rec.addr4;
    s->unlock_mode = rec.unlock;
    s->unit_choice = rec.unit;
    s->erase_list = rec.erase_list;
    s->record = rec;
    return 1;
}

int CTAMREL::Id_ByName() {
    std::string line, path;
    const int found = Chip_Db_ByName(this, setup->device_name, &line, &path);
    if (found == -1) return -1;
    if (found != 1) {
        printf("\nCan't find chip in 'flash_db.cfg'\n");
        return -1;
    }
    Chip_Db_Taken_From(this, path);
    return DB_Parser(line.c_str(), this) == 1 ? 1 : -1;
}
