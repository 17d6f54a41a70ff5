// flash_db.cfg records: one chip per line, "name=" at the start of the line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "chipdb/record_keys.h"
#include "config/file_search.h"
#include "flash/spi_opcodes.h"
#include "run/tamrel.h"

namespace {

// Reads the number of `key` from a record line into *value. 1 when it is there and fits
// 0..max; 0 when the key is absent or its value does not start with a number; -1 (after a
// message naming the record and the key) when it does not fit, since cutting it to its
// field would describe another chip.
int read_field(CTAMREL* pgm, const char* line, const char* key, unsigned long long max,
               uint32_t* value) {
    int found = 0;
    const std::string word = pgm->Get_env_txt(line, key, &found);
    if (found != 1) return 0;
    const char* text = word.c_str();
    char* end = nullptr;
    const long long n = strtoll(text, &end, 0);  // saturates beyond the long long range
    if (end == text) return 0;
    if (n < 0 || static_cast<unsigned long long>(n) > max) {
        printf("\nError: flash_db.cfg record %s: %s=%s does not fit its field (0 to 0x%llX)\n",
               pgm->setup->record_name.c_str(), key,
               std::string(text, static_cast<size_t>(end - text)).c_str(), max);
        return -1;
    }
    *value = static_cast<uint32_t>(n);
    return 1;
}

// Reads a word key (addr4=, unlock=, unit=); absent leaves *value. -1 after a message when
// the word is not one of the key's.
int read_word(CTAMREL* pgm, const char* line, const char* key, uint8_t* value) {
    int found = 0;
    const std::string word = pgm->Get_env_txt(line, key, &found);
    if (found != 1) return 0;
    if (Record_Word(key, word, value)) return 1;
    printf("\nError: flash_db.cfg record %s: %s=%s is not one of %s\n",
           pgm->setup->record_name.c_str(), key, word.c_str(), Record_Words(key).c_str());
    return -1;
}

// The keys a record may add to its sizes; -1 when one is refused.
int read_extra_keys(CTAMREL* pgm, const char* line) {
    Setup_struct* s = pgm->setup;
    uint32_t value = 0;
    // Ids are compared during the scan; here only their width is checked.
    if (read_field(pgm, line, "jedec", 0xFFFF, &value) < 0) return -1;
    if (read_field(pgm, line, "extid", 0xFFFF, &value) < 0) return -1;

    int r = read_field(pgm, line, "chipers", 0xFF, &value);
    if (r < 0) return -1;
    s->cmd_chip_erase = r == 1 ? static_cast<uint8_t>(value) : uint8_t{SPI_CHIP_ERASE};

    s->addr4_mode = Default_Addr4(s->total_size);
    s->unlock_mode = UNLOCK_WRSR;
    s->unit_choice = UNIT_BY_MAKER;
    if (read_word(pgm, line, "addr4", &s->addr4_mode) < 0 ||
        read_word(pgm, line, "unlock", &s->unlock_mode) < 0 ||
        read_word(pgm, line, "unit", &s->unit_choice) < 0)
        return -1;

    int found = 0;
    s->erase_list = pgm->Get_env_txt(line, "erase", &found);
    return 1;
}

}  // namespace

int DB_Parser(const char* line, CTAMREL* pgm) {
    Setup_struct* s = pgm->setup;
    int found = 0;

    printf("\nDevice name:\t");
    s->record_name = pgm->Get_env_txt(line, "name", &found);
    if (!s->has_device_name) s->device_name = s->record_name;
    printf("\"%s\"", s->device_name.c_str());

    uint32_t value = 0;
    found = read_field(pgm, line, "mnfid", 0xFF, &value);
    if (found < 0) return -1;
    if (found != 1) {
        printf("\nflash_db.cfg file: 'mnfid' syntax error\n");
        return -1;
    }
    s->mnf_id = static_cast<uint8_t>(value);

    found = read_field(pgm, line, "page", 0xFFFF, &value);
    if (found < 0) return -1;
    if (found == 1) {
        s->page_size = static_cast<uint16_t>(value);
        s->has_page_size = 1;
    } else {
        s->page_size = 256;
    }

    found = read_field(pgm, line, "block", 0xFFFFFFFF, &value);
    if (found < 0) return -1;
    if (found == 1) {
        s->block_size = value;
        s->has_block_size = 1;
    } else {
        s->block_size = 4096;
    }

    found = read_field(pgm, line, "sector", 0xFFFFFFFF, &value);
    if (found < 0) return -1;
    if (found == 1) {
        s->sector_size = value;
        s->has_sector_size = 1;
    } else {
        s->sector_size = 0x10000;
    }

    found = read_field(pgm, line, "volime", 0xFFFFFFFF, &value);
    if (found < 0) return -1;
    if (found != 1) {
        printf("\nflash_db.cfg file: 'volime' syntax error\n");
        return -1;
    }
    s->total_size = value;
    s->has_total_size = 1;

    found = read_field(pgm, line, "freq", 0xFFFF, &value);
    if (found < 0) return -1;
    s->freq = static_cast<uint16_t>(found == 1 ? value : 1);
    return read_extra_keys(pgm, line);
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
