// The tool's own texts for whole-output comparisons: literal files of representative runs,
// and literal pieces of the text that begins every run.
#pragma once

#include <cstdint>
#include <string>

#include "e2e/target_dir.h"

struct ChipText {
    std::string name;
    std::string maker;  // as printed in the manufacturer line; "": a maker outside the table
    uint16_t jedec;
    uint16_t ext;
    bool has_extid;                   // the record carries extid=
    std::string geometry;             // the parameter check's lines, as printed
    uint32_t total;                   // chip size
    unsigned erase_opcode;            // as shown in the command setup line
    bool four_byte_opcodes = false;   // read 0x13, program 0x12
    std::string chip_erase = "0xC7";  // as shown after ChipErs:
    // A chip in no record: the record it is played with (emulate=, its id from the name
    // "SFDP-MMDDDD" through emulate_sfdp=) and the record its SFDP tables give.
    std::string played = "";
    std::string sfdp_record = "";
};

extern const ChipText kW25X10;       // Winbond, 4 KiB blocks as erase unit
extern const ChipText kW25Q32;       // Winbond, 4 MiB
extern const ChipText kMX25L1005;    // Macronix, 64 KiB sectors
extern const ChipText kS25FL128S1;   // Spansion, 256 KiB sectors
extern const ChipText kW25Q256;      // 32 MiB, 4-byte mode entered and left (0xB7/0xE9)
extern const ChipText kGD25Q256;     // 32 MiB, 4-byte opcodes, maker outside the table, unit=
extern const ChipText kS25FL512S;    // 64 MiB, 4-byte opcodes, 512-byte pages
extern const ChipText kMX66L1G45G;   // 128 MiB, 4-byte opcodes
extern const ChipText kSST26VF016B;  // blocks locked at power-up until 0x98
extern const ChipText kM45PE10;      // no chip erase command
extern const ChipText kMX25V1635F;   // chip erase 0x60 only
extern const ChipText kSfdpEF4099;   // Winbond id in no record, 1 MiB, geometry from SFDP

// The emulate= name and the extra config.cfg lines that play `chip`.
std::string Played(const ChipText& chip);
std::string PlayLines(const ChipText& chip);

std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

// tests/e2e/expected/NAME.txt, its build date placeholder taken from `actual` (the binary's
// compile date); "" when the file can't be read.
std::string ExpectedFile(const std::string& name, const std::string& actual);
std::string CableName(Cable cable);  // "lpt" or "usb", as in the expected files' names

// Banner with the build date taken from the actual output.
std::string Banner(const std::string& actual);
// Cable detection and the emulated-target line.
std::string Detect(Cable cable, const std::string& chip, const std::string& image = "flash.bin");
// From the identification's power-up newline to its command setup line.
std::string Identify(Cable cable, const ChipText& chip);
// The identification's command setup line.
std::string CommandSetup(const ChipText& chip);
// The status report of a chip whose status register reads 0.
extern const char kIdleStatus[];
// Everything a run prints up to the operation's power-up newline (exclusive).
std::string Preamble(const std::string& actual, Cable cable, const ChipText& chip);

// `out` with every run of three or more progress lines of one kind ("Write data:\t\t0x%08X
// (%u%%)\r" and the like) cut to its first line, "...\r" and its last line, once the run has
// the shape of its kind: addresses rise by at most a page of `page` bytes, data written and
// restored in chunks that end on page boundaries, data read page by page from where the range
// begins, percentages that never fall. A run out of shape is marked "<bad progress>" there.
std::string Squeeze(const std::string& out, uint32_t page = 256);
