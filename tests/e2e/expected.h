// The tool's own texts, assembled for whole-output comparisons.
#pragma once

#include <cstdint>
#include <string>

#include "e2e/target_dir.h"

struct ChipText {
    std::string name;
    std::string maker;  // as printed in the manufacturer line
    uint16_t jedec;
    uint16_t ext;
    bool has_extid;                       // the record carries extid=
    uint32_t page, block, sector, total;  // block 0: record without block=
    unsigned erase_opcode;
};

extern const ChipText kW25X10;      // Winbond, 4 KiB blocks as erase unit
extern const ChipText kW25Q32;      // the quick start's chip: the shipped record has extid=0
extern const ChipText kMX25L1005;   // Macronix, 64 KiB sectors
extern const ChipText kS25FL128S1;  // Spansion, 256 KiB sectors
extern const ChipText kS25FL004A;   // Spansion, for the status bit names

std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Banner with the build date taken from the actual output (the binary's compile date).
std::string Banner(const std::string& actual);
// Cable detection and the emulated-target line.
std::string Detect(Cable cable, const std::string& chip, const std::string& image = "flash.bin");
// From the identification's power-up newline to its command setup line.
std::string Identify(Cable cable, const ChipText& chip);
// Geometry lines of the parameter check.
std::string Geometry(const ChipText& chip);
// Everything a run prints up to the operation's power-up newline (exclusive).
std::string Preamble(const std::string& actual, Cable cable, const ChipText& chip);

// Progress lines: one per chunk over [first, first + len), chunk boundaries at multiples
// of `chunk` (page-bounded) when `aligned`, else every `chunk` bytes from first.
// The format takes the next address and the percentage, both unsigned.
std::string Progress(const char* format, uint32_t first, uint32_t len, uint32_t chunk,
                     bool aligned);
