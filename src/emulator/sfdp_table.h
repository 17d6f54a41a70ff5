// SFDP tables of an emulated chip: the JESD216B header, one parameter header and a
// 16-DWORD Basic Flash Parameter Table that describe the part the chip model plays.
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/flash_chip.h"

struct SfdpEraseSpec {
    uint8_t opcode;
    uint32_t size;  // bytes, a power of two
};

// Up to four erase types, smallest first; a 4 KiB one with opcode 0x20 is also named in
// the first DWORD. The 16th DWORD says how the part reaches 4-byte addresses.
std::vector<uint8_t> Build_Sfdp_Table(uint32_t total_size, uint32_t page_size,
                                      const std::vector<SfdpEraseSpec>& erase, FourByte four_byte);
