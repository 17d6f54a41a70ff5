// JEDEC JESD216 Serial Flash Discoverable Parameters: the header, the parameter headers and
// the Basic Flash Parameter Table, checked for sense and turned into a flash_db.cfg record.
#pragma once

#include <cstdint>
#include <string>

struct SfdpErase {
    uint32_t size;  // bytes
    uint8_t opcode;
};

struct SfdpGeometry {
    uint8_t major;  // revision of the basic parameter table taken
    uint8_t minor;
    uint32_t total_size;
    uint16_t page_size;  // 64 when the table does not say (JESD216 1.0: "64 bytes or more")
    bool page_known;     // the table gives the page size
    // Erase commands valid over the whole chip: the 3-byte ones, smallest first, then
    // with 4-byte opcodes their 4-byte forms.
    SfdpErase erase[8];
    int erase_count;
    uint32_t unit_size;  // erase unit: the largest of them the tool sends as is
    const char* addr4;   // flash_db.cfg addr4= value, or null for 3-byte addresses
};

// How many bytes from SFDP address 0 the parser wants, given the first `len`: the header,
// then the parameter headers, then the tables it reads. `len` when it wants no more.
uint32_t Sfdp_Wanted(const uint8_t* bytes, uint32_t len);

// 1 with `geo` filled for a sound table; 0 with the reason in `why` otherwise.
int Sfdp_Parse(const uint8_t* bytes, uint32_t len, SfdpGeometry* geo, std::string* why);

// The flash_db.cfg record (one line, no newline) of a chip with these ids and geometry.
std::string Sfdp_Record(const SfdpGeometry& geo, uint8_t mnf_id, uint16_t jedec_id,
                        uint16_t ext_id);
