// Chip identification: by the JEDEC id the chip answers, or by the name given with -n=.
#include <cstdio>
#include <string>

#include "chipdb/manufacturer.h"
#include "run/console.h"
#include "run/tamrel.h"

namespace {

const char kDbFile[] = "flash_db.cfg";
const char kSearchLine[] = "\nSearch chip in:\tflash_db.cfg - ";

enum RecordMatch { RECORD_NO, RECORD_YES, RECORD_NO_EXTID };

// Compares one captured record line with the ids the chip answered.
RecordMatch match_record(CTAMREL* pgm, const std::string& line) {
    const Setup_struct* s = pgm->setup;
    int found = 0;

    long value = pgm->Get_env_val(line.c_str(), "mnfid", &found);
    if (found != 1 || static_cast<uint8_t>(value) != s->mnf_id) return RECORD_NO;
    value = pgm->Get_env_val(line.c_str(), "jedec", &found);
    if (found != 1 || static_cast<uint16_t>(value) != s->jedec_id) return RECORD_NO;
    value = pgm->Get_env_val(line.c_str(), "extid", &found);
    if (found != 1) return RECORD_NO_EXTID;
    uint16_t extid = static_cast<uint16_t>(value);
    if (extid != 0) return extid == s->ext_id ? RECORD_YES : RECORD_NO;
    // extid=0 stands for chips that send nothing after the id: 0x00 or 0xFF bytes
    return (s->ext_id == 0x0000 || s->ext_id == 0x00FF) ? RECORD_YES : RECORD_NO;
}

}  // namespace

int CTAMREL::FLASH_Identify() {
    CManufacturer mnf(setup);

    if (setup->has_device_name) {
        printf("\nOperation by chip name.");
        if (Id_ByName() != 1) return -1;
        printf("%sOK\n", kSearchLine);
        mnf.configure_chip_setup();
        return 1;
    }

    Adapter_ini();
    unsigned char id[6] = {0, 0, 0, 0, 0, 0};
    FLASH_Read_JEDEC(id);
    setup->mnf_id = id[1];
    setup->jedec_id = static_cast<uint16_t>(id[2] << 8 | id[3]);
    setup->ext_id = static_cast<uint16_t>(id[4] << 8 | id[5]);

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
        Get_keyString(kDbFile, &line, "\nname=", result);
        if (result == -1) return -1;
        if (result != 1) {
            printf("\tIs not added to DB\n");
            return -1;
        }
        RecordMatch match = match_record(this, line);
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
