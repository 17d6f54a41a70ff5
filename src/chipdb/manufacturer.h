// Manufacturer name, erase unit and command opcodes of the identified chip.
#pragma once

#include <cstdint>
#include <string>

#include "run/setup.h"

class CManufacturer {
public:
    // Also writes the fixed read, program and chip erase opcodes into the setup record.
    explicit CManufacturer(Setup_struct* setup);

    void print_manufacturer();    // "Manufacturer:\t\"NAME\"" or "Not indentify ID"
    void configure_chip_setup();  // erase unit and opcode, then the command setup line
    void Winbond();

    Setup_struct* setup;
    std::string mnf_text;
};

// The record key that gives the erase unit: "block" or "sector" (unit=, else the maker
// table), "erase" (the smallest size of erase= the tool erases exactly); null when the chip
// has none.
const char* Erase_Unit_Key(const Setup_struct* setup);

// The erase opcode the tool sends for an erase unit of `size` bytes when the record's
// sector= is that size too; 0 when it has none.
unsigned char Erase_Opcode(uint32_t size);
