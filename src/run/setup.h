// Setup record: everything one run knows about the request, the chip and the files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "chipdb/chip_record.h"

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
    OP_PUT_BACK = 10,  // -r: program a journal's bytes back
};

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
    uint8_t only_changed;        // -c: read first, erase and program only units that differ
    std::string journal_file;    // -r
    uint8_t geometry_from_sfdp;  // the chip is not in flash_db.cfg: its SFDP tables gave it

    // Record keys beyond the geometry (flash_db.cfg).
    std::string record_name;  // name= of the record taken (-n= may give a prefix of it)
    std::string erase_list;   // erase= as written, empty when absent
    uint8_t addr4_mode;
    uint8_t unlock_mode;
    uint8_t unit_choice;
    ChipRecord record;  // the record taken, every key as parsed
    // The chip answers the id of several records (alternatives) and its SFDP tables did not
    // tell which it is: their names ("A, B"), and whether they erase the whole chip alike.
    std::string alternatives;
    uint8_t alternatives_erase_alike;

    // Which USB-Blaster (config.cfg usb_*, command line --usb-*, which replaces the file's
    // choice): empty strings and no has_usb_index ask nothing; ids 0 are 0x09FB/0x6001.
    std::string usb_serial;
    std::string usb_path;
    uint16_t usb_index;
    uint8_t has_usb_index;
    uint16_t usb_vid;
    uint16_t usb_pid;
    // The switches that choose the opened cable again ("--usb-serial=A1", "-p=0x278"), where
    // a later run could take another; empty with one cable at its default place.
    std::string cable_words;

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
    std::string emulate_usb;               // the emulated USB-Blasters, "SERIAL:FILE[:VID:PID],..."
    std::string emulate_lpt;               // the emulated parallel ports, "ADDRESS:FILE,..."
    int32_t emulate_kill_after;  // power and process gone after this many frames; 0 = never
    std::string emulate_poke;    // "N,ADDR,BYTE": another master programs BYTE after N frames

    uint8_t exit_codes;  // config.cfg exit_codes= (run/exit_codes.h), 0 when absent
    // A config.cfg line that looks like a cable setting written another way, as written,
    // and the spelling it needs; empty when none.
    std::string port_lookalike;
    std::string port_expected;

    // Paths of config.cfg and flash_db.cfg once looked up (config/file_search.h).
    std::string config_path;
    std::string db_path;
    // The installed flash_db.cfg, searched after db_path ("" none), and whether a line has
    // named it since a record was taken from it.
    std::string db_installed;
    uint8_t db_installed_named;
};

void PGM_setup_ini(Setup_struct* setup);
