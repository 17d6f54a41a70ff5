#include "chipdb/manufacturer.h"

#include <cstdint>
#include <cstdio>

#include "flash/range_check.h"
#include "flash/spi_opcodes.h"

namespace {

struct Maker {
    unsigned char id;
    const char* name;
    uint8_t unit;  // UNIT_BLOCK or UNIT_SECTOR
};

const Maker kMakers[] = {
    {0xBF, "SST Microchip", UNIT_SECTOR}, {0x1F, "Atmel", UNIT_BLOCK},
    {0xEF, "Winbond", UNIT_BLOCK},        {0x01, "Spansion", UNIT_SECTOR},
    {0xC2, "Macronix", UNIT_SECTOR},      {0x20, "ST Micron", UNIT_SECTOR},
};

// Erase commands by the size they erase, first match wins; 0xD8 erases the record's
// sector size.
struct EraseCommand {
    unsigned char opcode;
    uint32_t size;  // 0: sector=
};

const EraseCommand kEraseCommands[] = {
    {SPI_ERASE_4K, 0x1000},
    {SPI_ERASE_8K, 0x2000},
    {SPI_ERASE_32K, 0x8000},
    {SPI_ERASE_SECTOR, 0},
};

const Maker* find_maker(unsigned char id) {
    for (const Maker& m : kMakers) {
        if (m.id == id) return &m;
    }
    return nullptr;
}

// The command that erases exactly `size` bytes; 0 when none does.
unsigned char erase_opcode(const Setup_struct* s, uint32_t size) {
    for (const EraseCommand& c : kEraseCommands) {
        if (size != 0 && size == (c.size ? c.size : s->sector_size)) return c.opcode;
    }
    return 0;
}

// The 3-byte erase command of an erase= opcode (its 4-byte twin counts as it); 0 for others.
unsigned char three_byte_erase(unsigned char opcode) {
    for (const EraseCommand& c : kEraseCommands)
        if (opcode == c.opcode || opcode == Four_Byte_Opcode(c.opcode)) return c.opcode;
    return 0;
}

struct Unit {
    const char* key;  // the record key that gives it
    uint32_t size;
};

// unit= first, then the maker table, then the smallest size of erase= whose opcode is the
// one the tool sends for that size.
Unit erase_unit(const Setup_struct* s) {
    uint8_t unit = s->unit_choice;
    if (unit == UNIT_BY_MAKER) {
        const Maker* m = find_maker(s->mnf_id);
        if (m) unit = m->unit;
    }
    if (unit == UNIT_BLOCK) return {"block", s->block_size};
    if (unit == UNIT_SECTOR) return {"sector", s->sector_size};
    Unit from_list = {nullptr, 0};
    for (const EraseItem& item : s->record.erase) {
        const unsigned char op = three_byte_erase(item.opcode);
        const uint32_t size = item.Largest();
        if (op == 0 || erase_opcode(s, size) != op) continue;
        if (from_list.size == 0 || size < from_list.size) from_list = {"erase", size};
    }
    return from_list;
}

}  // namespace

const char* Erase_Unit_Key(const Setup_struct* s) {
    return erase_unit(s).key;
}

unsigned char Erase_Opcode(uint32_t size) {
    Setup_struct record{};
    record.sector_size = size;
    return erase_opcode(&record, size);
}

CManufacturer::CManufacturer(Setup_struct* s) : setup(s), mnf_text("Manufacturer:\t\"") {
    setup->cmd_read = SPI_READ;
    setup->cmd_write = SPI_PAGE_PROGRAM;
    setup->cmd_chip_erase = SPI_CHIP_ERASE;
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

// The chip-erase opcode comes from the record (chipers=), read before this runs.
void CManufacturer::configure_chip_setup() {
    const Unit unit = erase_unit(setup);
    if (unit.key) setup->erase_size = unit.size;
    setup->cmd_erase = erase_opcode(setup, setup->erase_size);

    // Shown as they go on the wire.
    unsigned char erase = setup->cmd_erase;
    if (setup->addr4_mode == ADDR4_OPCODES) {
        setup->cmd_read = Four_Byte_Opcode(SPI_READ);
        setup->cmd_write = Four_Byte_Opcode(SPI_PAGE_PROGRAM);
        erase = Four_Byte_Opcode(erase);
    }
    printf("\nCMD Setup:\tErs:0x%X Rd:0x%X Wr:0x%X ", erase, setup->cmd_read, setup->cmd_write);
    if (Erase_By_Dies(setup))
        printf("ChipErs:0x%X per die", setup->record.die_erase);
    else if (setup->cmd_chip_erase)
        printf("ChipErs:0x%X", setup->cmd_chip_erase);
    else
        printf("ChipErs: not used");
}

void CManufacturer::Winbond() {
    setup->cmd_chip_erase = SPI_CHIP_ERASE;
}
