// Chip identification: by the JEDEC id the chip answers, or by the name given with -n=.
#include <cstdio>
#include <string>

#include "chipdb/manufacturer.h"
#include "config/file_search.h"
#include "run/console.h"
#include "run/tamrel.h"

namespace {

const char kSearchLine[] = "\nSearch chip in:\tflash_db.cfg - ";

enum RecordMatch { RECORD_NO, RECORD_YES, RECORD_NO_EXTID };

struct ChipIds {
    uint8_t mnf;
    uint16_t jedec;
    uint16_t ext;
};

ChipIds read_ids(CTAMREL* pgm) {
    unsigned char id[6] = {0, 0, 0, 0, 0, 0};
    pgm->FLASH_Read_JEDEC(id);
    return {id[1], static_cast<uint16_t>(id[2] << 8 | id[3]),
            static_cast<uint16_t>(id[4] << 8 | id[5])};
}

// Compares one captured record line with the ids a chip answered.
RecordMatch match_record(CTAMREL* pgm, const std::string& line, const ChipIds& chip) {
    int found = 0;

    long value = pgm->Get_env_val(line.c_str(), "mnfid", &found);
    if (found != 1 || static_cast<uint8_t>(value) != chip.mnf) return RECORD_NO;
    value = pgm->Get_env_val(line.c_str(), "jedec", &found);
    if (found != 1 || static_cast<uint16_t>(value) != chip.jedec) return RECORD_NO;
    value = pgm->Get_env_val(line.c_str(), "extid", &found);
    if (found != 1) return RECORD_NO_EXTID;
    uint16_t extid = static_cast<uint16_t>(value);
    if (extid != 0) return extid == chip.ext ? RECORD_YES : RECORD_NO;
    // extid=0 stands for chips that send nothing after the id: 0x00 or 0xFF bytes
    return (chip.ext == 0x0000 || chip.ext == 0x00FF) ? RECORD_YES : RECORD_NO;
}

// The record's ids as "0xMM 0xJJJJ", with " 0xEEEE" when it gives extid=; empty when it
// gives no jedec= to compare with.
std::string record_ids(CTAMREL* pgm, const std::string& line) {
    int found = 0;
    const long jedec = pgm->Get_env_val(line.c_str(), "jedec", &found);
    if (found != 1) return "";
    const long mnf = pgm->Get_env_val(line.c_str(), "mnfid", &found);
    char text[32];
    snprintf(text, sizeof text, "0x%02X 0x%04X", static_cast<unsigned>(mnf & 0xFF),
             static_cast<unsigned>(jedec & 0xFFFF));
    std::string ids = text;
    const long ext = pgm->Get_env_val(line.c_str(), "extid", &found);
    if (found == 1) {
        snprintf(text, sizeof text, " 0x%04X", static_cast<unsigned>(ext & 0xFFFF));
        ids += text;
    }
    return ids;
}

}  // namespace

int CTAMREL::FLASH_Identify() {
    CManufacturer mnf(setup);
    const char* db_file = Config_File_Path(setup, FLASH_DB_CFG);

    if (setup->has_device_name) {
        printf("\nOperation by chip name.");
        if (Id_ByName() != 1) return -1;
        printf("%sOK\n", kSearchLine);
        mnf.configure_chip_setup();
        return 1;
    }

    Adapter_ini();
    const ChipIds chip = read_ids(this);
    setup->mnf_id = chip.mnf;
    setup->jedec_id = chip.jedec;
    setup->ext_id = chip.ext;

    if (setup->use_lpt)
        printf("SPI by LPT port: 0x%Xh", setup->lpt_addr);
    else if (setup->use_usb)
        printf("SPI by USB");
    printf(", SCK period: %dus\n\n", 1);

    if (setup->jedec_id == 0x0000 || setup->jedec_id == 0x00FF) {
        Adapter_release();
        SetColor(14, 1);
        printf(
            "Error: Can`t read the FLASH mem device!              \n"
            "Probably, pin`s connection is wrong.\n");
        SetColor(15, 0);
        printf("\n");
        return -1;
    }

    printf("Flash Memory Info:\n");
    mnf.print_manufacturer();
    printf("\nJEDEC ID code:\t0x%04X", setup->jedec_id);
    printf("\nExtended ID:\t0x%04X\n", setup->ext_id);
    Adapter_release();

    printf("%s", kSearchLine);
    key_pos = 0;
    std::string line;
    for (;;) {
        int result = 0;
        Get_keyString(db_file, &line, "\nname=", result);
        if (result == -1) return -1;
        if (result != 1) {
            printf("\tIs not added to DB\n");
            return -1;
        }
        RecordMatch match = match_record(this, line, chip);
        if (match == RECORD_NO) continue;
        if (match == RECORD_NO_EXTID)
            printf("OK, Warning: 'extid=' not defined!");
        else
            printf("OK");
        break;
    }

    if (DB_Parser(line.c_str(), this) != 1) return -1;
    mnf.configure_chip_setup();
    return 1;
}

void CTAMREL::FLASH_Check_ByName() {
    if (!setup->has_device_name || !adapter_active) return;
    const ChipIds chip = read_ids(this);
    // No answer (no chip, or one without the id command): the reason -n= exists.
    if (chip.jedec == 0x0000 || chip.jedec == 0x00FF || (chip.mnf == 0xFF && chip.jedec == 0xFFFF))
        return;
    std::string line;
    int result = 0;
    key_pos = 0;
    Get_keyString(Config_File_Path(setup, FLASH_DB_CFG), &line,
                  ("\nname=" + setup->device_name).c_str(), result);
    if (result != 1 || match_record(this, line, chip) != RECORD_NO) return;
    const std::string ids = record_ids(this, line);
    if (ids.empty()) return;
    printf(
        "\nWarning: the chip answers id 0x%02X 0x%04X 0x%04X, the record taken by -n=%s has %s\n",
        chip.mnf, chip.jedec, chip.ext, setup->device_name.c_str(), ids.c_str());
}
