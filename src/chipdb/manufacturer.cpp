#include "chipdb/manufacturer.h"

#include <cstdint>
#include <cstdio>

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

uint8_t unit_of(const Setup_struct* s) {
    if (s->unit_choice != UNIT_BY_MAKER) return s->unit_choice;
    const Maker* m = find_maker(s->mnf_id);
    return m ? m->unit : uint8_t{UNIT_BY_MAKER};
}

// The command that erases exactly `size` bytes; 0 when none does.
unsigned char erase_opcode(const Setup_struct* s, uint32_t size) {
    for (const EraseCommand& c : kEraseCommands) {
        if (size != 0 && size == (c.size ? c.size : s->sector_size)) return c.opcode;
    }
    return 0;
}

}  // namespace

const char* Erase_Unit_Key(const Setup_struct* s) {
    const uint8_t unit = unit_of(s);
    return unit == UNIT_BLOCK ? "block" : unit == UNIT_SECTOR ? "sector" : nullptr;
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
    const uint8_t unit = unit_of(setup);
    if (unit == UNIT_BLOCK) setup->erase_size = setup->block_size;
    if (unit == UNIT_SECTOR) setup->erase_size = setup->sector_size;
    setup->cmd_erase = erase_opcode(setup, setup->erase_size);

    // Shown as they go on the wire.
    unsigned char erase = setup->cmd_erase;
    if (setup->addr4_mode == ADDR4_OPCODES) {
        setup->cmd_read = Four_Byte_Opcode(SPI_READ);
        setup->cmd_write = Four_Byte_Opcode(SPI_PAGE_PROGRAM);
        erase = Four_Byte_Opcode(erase);
    }
    printf("\nCMD Setup:\tErs:0x%X Rd:0x%X Wr:0x%X ", erase, setup->cmd_read, setup->cmd_write);
    if (setup->cmd_chip_erase)
        printf("ChipErs:0x%X", setup->cmd_chip_erase);
    else
        printf("ChipErs: not used");
}

void CManufacturer::Winbond() {
    setup->cmd_chip_erase = SPI_CHIP_ERASE;
}
