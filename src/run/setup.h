// Setup record: everything one run knows about the request, the chip and the files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

enum : uint8_t {
    OP_NONE = 0,
    OP_RESET = 1,
    OP_DUMP = 3,
    OP_WRITE = 4,
    OP_VERIFY = 5,
    OP_ERASE = 6,
    OP_UNLOCK = 7,
    OP_INFO = 8,
    OP_SHOWMEM = 9,
};

// How a chip takes addresses (flash_db.cfg addr4=): 3 bytes only; 4 bytes through the
// dedicated 4-byte opcodes; 4 bytes in a 4-byte mode entered with 0xB7 and left with 0xE9,
// with a write enable before each of them for ADDR4_WREN_EN4B.
enum : uint8_t { ADDR4_NO, ADDR4_OPCODES, ADDR4_EN4B, ADDR4_WREN_EN4B };
// How -u clears the protection (flash_db.cfg unlock=): status register write 0x01 0x00, or
// the global block-protection unlock 0x98.
enum : uint8_t { UNLOCK_WRSR, UNLOCK_ULBPR };
// Which of block= and sector= is the erase unit (flash_db.cfg unit=); by maker when absent.
enum : uint8_t { UNIT_BY_MAKER, UNIT_BLOCK, UNIT_SECTOR };

struct Setup_struct {
    uint16_t jedec_id;
    uint16_t ext_id;
    uint8_t mnf_id;
    uint16_t freq;
    uint32_t file_size;
    uint32_t total_size;
    uint32_t block_size;
    uint32_t sector_size;
    uint16_t page_size;
    uint32_t addr_begin;
    uint32_t addr_last;
    uint8_t operation;
    uint32_t erase_size;
    uint16_t lpt_addr;
    uint8_t cmd_erase;
    uint8_t cmd_chip_erase;
    uint8_t cmd_read;
    uint8_t cmd_write;
    std::string file_name;
    std::string dump_name;
    FILE* data_file;
    std::string device_name;
    uint8_t has_addr_begin;
    uint8_t has_addr_last;
    uint8_t has_total_size;
    uint8_t has_block_size;
    uint8_t has_sector_size;
    uint8_t has_page_size;
    uint8_t use_lpt;
    uint8_t use_usb;
    uint8_t usb_async;  // config.cfg usb_async=: overlapped USB transfers (1, the default)
    uint8_t has_file_name;
    uint8_t has_device_name;
    uint8_t do_erase;
    uint8_t do_write;
    uint8_t do_verify;
    uint8_t do_dump;
    uint8_t geometry_from_sfdp;  // the chip is not in flash_db.cfg: its SFDP tables gave it

    // Record keys beyond the geometry (flash_db.cfg).
    std::string record_name;  // name= of the record taken (-n= may give a prefix of it)
    std::string erase_list;   // erase= as written, empty when absent
    uint8_t addr4_mode;
    uint8_t unlock_mode;
    uint8_t unit_choice;

    // Emulated target (config.cfg emulate* keys); empty name means real hardware.
    std::string emulate_name;
    std::string emulate_image;
    std::string emulate_stats;
    std::string emulate_fault;
    std::string emulate_sfdp;  // "ID" or "ID,FILE": play a chip of that id, SFDP from FILE
    uint8_t emulate_status;
    int32_t emulate_interrupt_after;       // raise a signal after this many frames; 0 = never
    std::string emulate_interrupt_signal;  // "SIGINT" (when empty) or "SIGTERM"
    int32_t emulate_drop_after;            // the cable is lost after this many frames; 0 = never

    // Paths of config.cfg and flash_db.cfg once looked up (config/file_search.h).
    std::string config_path;
    std::string db_path;
};

void PGM_setup_ini(Setup_struct* setup);
