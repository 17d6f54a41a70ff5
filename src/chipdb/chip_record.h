// One flash_db.cfg record with every key read and checked once: what identification, the
// record check, the operations and the emulated chip all take from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chipdb/record_keys.h"

class CTAMREL;

// How a chip takes addresses (addr4=): 3 bytes only; 4 bytes through the dedicated 4-byte
// opcodes; 4 bytes in a 4-byte mode entered with 0xB7 and left with 0xE9, with a write
// enable before each of them for ADDR4_WREN_EN4B.
enum : uint8_t { ADDR4_NO, ADDR4_OPCODES, ADDR4_EN4B, ADDR4_WREN_EN4B };
// How -u clears the protection (unlock=): status register write 0x01 0x00, or the global
// block-protection unlock 0x98.
enum : uint8_t { UNLOCK_WRSR, UNLOCK_ULBPR };
// Which of block= and sector= is the erase unit (unit=); by maker, else by erase=, when absent.
enum : uint8_t { UNIT_BY_MAKER, UNIT_BLOCK, UNIT_SECTOR };
// What the status wait polls (poll=): the busy bit of 0x05, or the ready bit of the flag
// status register 0x70.
enum : uint8_t { POLL_STATUS, POLL_FSR };
// extid=: absent (any extended id, with a warning), a value, or any (no warning).
enum : uint8_t { EXTID_NONE, EXTID_VALUE, EXTID_ANY };

struct ChipRecord {
    std::string name;
    uint8_t mnf_id = 0;
    bool has_jedec = false;
    uint16_t jedec_id = 0;
    uint8_t extid = EXTID_NONE;
    uint16_t ext_id = 0;
    bool has_page = false;
    uint16_t page_size = 256;
    bool has_block = false;
    uint32_t block_size = 4096;
    bool has_sector = false;
    uint32_t sector_size = 0x10000;
    uint32_t total_size = 0;
    uint16_t freq = 1;
    uint8_t chip_erase = 0xC7;  // chipers=; 0: none
    uint8_t addr4 = ADDR4_NO;
    uint8_t unlock = UNLOCK_WRSR;
    uint8_t unit = UNIT_BY_MAKER;
    std::string erase_list;  // erase= as written, empty when absent
    std::vector<EraseItem> erase;
    uint8_t protect_mask = 0x1C;  // bp=, else the maker's
    uint8_t poll = POLL_STATUS;
    uint8_t die_erase = 0;  // diers= opcode and die size; 0: none
    uint32_t die_size = 0;
    uint8_t ads_opcode = 0;  // ads=: the register read and the bits that show 4-byte mode
    uint8_t ads_mask = 0;
    uint8_t ear_opcode = 0;  // ear=: extended address register write; 0: none
};

// Reads every key of `line`, a record as the key reader captures it ("\nname=...\n"). 1 with
// *rec filled; 0 when mnfid= or volime= is not readable, -1 when a key is refused: *why then
// says which and why ("flash_db.cfg record NAME: page=0x10100 does not fit ..."). rec->name
// is set in every case.
int Parse_Chip_Record(CTAMREL* pgm, const char* line, ChipRecord* rec, std::string* why);
