#include "chipdb/manufacturer.h"

#include <cstdint>
#include <cstdio>

#include "run/console.h"

namespace {

enum EraseUnit { UNIT_SECTOR, UNIT_BLOCK };

struct Maker {
    unsigned char id;
    const char* name;
    EraseUnit unit;
};

const Maker kMakers[] = {
    {0xBF, "SST Microchip", UNIT_SECTOR}, {0x1F, "Atmel", UNIT_BLOCK},
    {0xEF, "Winbond", UNIT_BLOCK},        {0x01, "Spansion", UNIT_SECTOR},
    {0xC2, "Macronix", UNIT_SECTOR},      {0x20, "ST Micron", UNIT_SECTOR},
};

// Erase opcode by unit size, bounds inclusive. Opcode 0 keeps the earlier opcode.
struct EraseRule {
    uint32_t low;
    uint32_t high;
    unsigned char opcode;
    bool undefined;  // sizes no known chip uses: ask the user for a report
};

const EraseRule kEraseRules[] = {
    {0, 4095, 0x00, false},     {4096, 8191, 0x20, false},   {8192, 16383, 0x40, false},
    {16384, 32767, 0x40, true}, {32768, 65535, 0x52, false}, {65536, 0xFFFFFFFFu, 0xD8, false},
};

const Maker* find_maker(unsigned char id) {
    for (const Maker& m : kMakers) {
        if (m.id == id) return &m;
    }
    return nullptr;
}

const EraseRule& find_rule(uint32_t size) {
    for (const EraseRule& r : kEraseRules) {
        if (size >= r.low && size <= r.high) return r;
    }
    return kEraseRules[0];  // unreachable: the rules cover every 32-bit size
}

}  // namespace

CManufacturer::CManufacturer(Setup_struct* s) : setup(s), mnf_text("Manufacturer:\t\"") {
    setup->cmd_read = 0x03;
    setup->cmd_write = 0x02;
    setup->cmd_chip_erase = 0xC7;
}

void CManufacturer::print_manufacturer() {
    const Maker* m = find_maker(setup->mnf_id);
    if (m) {
        mnf_text += m->name;
        mnf_text += "\"";
    } else {
        mnf_text = "Not indentify ID";
    }
    printf("%s", mnf_text.c_str());
}

void CManufacturer::configure_chip_setup() {
    setup->cmd_chip_erase = 0xC7;
    if (const Maker* m = find_maker(setup->mnf_id)) {
        setup->erase_size = (m->unit == UNIT_BLOCK) ? setup->block_size : setup->sector_size;
    }
    const EraseRule& rule = find_rule(setup->erase_size);
    if (rule.opcode != 0) setup->cmd_erase = rule.opcode;
    if (rule.undefined) {
        printf("\nHere undefined situation. Send please report to %s", TAMREL_CONTACT);
    }
    printf("\nCMD Setup:\tErs:0x%X Rd:0x%X Wr:0x%X ", setup->cmd_erase, setup->cmd_read,
           setup->cmd_write);
    if (setup->cmd_chip_erase)
        printf("ChipErs:0x%X", setup->cmd_chip_erase);
    else
        printf("ChipErs: not used");
}

void CManufacturer::Winbond() {
    setup->cmd_chip_erase = 0xC7;
}
