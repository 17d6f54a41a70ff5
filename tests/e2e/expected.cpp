#include "e2e/expected.h"

#include <cstdarg>
#include <cstdio>

const ChipText kW25X10 = {"W25X10", "Winbond", 0x3011, 0, false, 256, 4096, 0x10000, 0x20000, 0x20};
const ChipText kW25Q32 = {"W25Q32", "Winbond", 0x4016, 0, true, 256, 4096, 0x10000, 0x400000, 0x20};
const ChipText kMX25L1005 = {"MX25L1005", "Macronix", 0x2011,  0,       false,
                             256,         4096,       0x10000, 0x20000, 0xD8};
const ChipText kS25FL128S1 = {"S25FL128Sxxxxxx1", "Spansion", 0x2018, 0x4D00, true, 256, 0, 0x40000,
                              0x1000000,          0xD8};
const ChipText kS25FL004A = {"S25FL004A", "Spansion", 0x0212,  0,       false,
                             256,         0,          0x10000, 0x80000, 0xD8};
const ChipText kW25Q256 = {"W25Q256", "Winbond", 0x4019,  0,         false,
                           256,       4096,      0x10000, 0x2000000, 0x20};
const ChipText kGD25Q256 = {"GD25Q256", "",      0x4019,    0,    false, 256,
                            4096,       0x10000, 0x2000000, 0xDC, true};
const ChipText kS25FL512S = {"S25FL512S", "Spansion", 0x0220,    0x4D00, true, 512,
                             0,           0x40000,    0x4000000, 0xDC,   true};
const ChipText kMX66L1G45G = {"MX66L1G45G", "Macronix", 0x201B,    0,    false, 256,
                              4096,         0x10000,    0x8000000, 0xDC, true};
const ChipText kSST26VF016B = {"SST26VF016B", "SST Microchip", 0x2641,   0,   false, 256,
                               4096,          0x1000,          0x200000, 0x20};
const ChipText kM45PE10 = {"M45PE10", "ST Micron", 0x4011,  0,    false, 256,
                           0,         0x10000,     0x20000, 0xD8, false, " not used"};
const ChipText kMX25V1635F = {"MX25V1635F", "Macronix", 0x2315,   0,    false, 256,
                              4096,         0x10000,    0x200000, 0xD8, false, "0x60"};

const ChipText kSfdpEF4099 = {"SFDP-EF4099",
                              "Winbond",
                              0x4099,
                              0,
                              true,
                              256,
                              0x10000,
                              0x10000,
                              0x100000,
                              0xD8,
                              false,
                              "0xC7",
                              "W25Q80",
                              "name=SFDP-EF4099 mnfid=0xEF jedec=0x4099 extid=0 page=256 "
                              "block=0x10000 sector=0x10000 volime=0x100000 "
                              "erase=0x20:4K,0x52:32K,0xD8:64K unit=sector"};

const ChipText kSfdpC84099 = {"SFDP-C84099",
                              "",
                              0x4099,
                              0,
                              true,
                              256,
                              0x10000,
                              0x10000,
                              0x2000000,
                              0xDC,
                              true,
                              "0xC7",
                              "GD25Q256",
                              "name=SFDP-C84099 mnfid=0xC8 jedec=0x4099 extid=0 page=256 "
                              "block=0x10000 sector=0x10000 volime=0x2000000 "
                              "erase=0x20:4K,0x52:32K,0xD8:64K,0x21:4K,0x5C:32K,0xDC:64K "
                              "unit=sector addr4=opcodes"};

std::string Played(const ChipText& c) {
    return c.played.empty() ? c.name : c.played;
}

std::string PlayLines(const ChipText& c) {
    return c.sfdp_record.empty() ? "" : "emulate_sfdp=0x" + c.name.substr(5) + "\n";
}

std::string Fmt(const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return buf;
}

std::string Banner(const std::string& actual) {
    const std::string head = "\nTamrel, ver 2.8, tamrel-maintainers@example.org, ";
    std::string date = actual.size() >= head.size() + 11 ? actual.substr(head.size(), 11) : "";
    return head + date;
}

std::string Detect(Cable cable, const std::string& chip, const std::string& image) {
    std::string s;
    if (cable == Cable::Lpt) {
        s = "\nLPT port opened.\n\"Altera LPT Byte Blaster\" detected. "
            "\nByteBlaster<->SPI: TMS=CS TCK=SCK TDI=SI TDO=SO nCE=RESET nCS=WP";
    } else {
        s = "\nSet VID: 0x9FB, PID: 0x6001\n\"Altera USB-Blaster\" detected";
    }
    return s + "\nEmulated target: " + chip + ", image " + image;
}

std::string Identify(Cable cable, const ChipText& c) {
    std::string s = "\n";
    s += cable == Cable::Lpt ? "SPI by LPT port: 0x378h" : "SPI by USB";
    s += ", SCK period: 1us\n\nFlash Memory Info:\n";
    s += c.maker.empty() ? "Not indentify ID" : "Manufacturer:\t\"" + c.maker + "\"";
    s += Fmt("\nJEDEC ID code:\t0x%04X\nExtended ID:\t0x%04X\n", c.jedec, c.ext);
    s += "\n\nSearch chip in:\tflash_db.cfg - ";
    if (!c.sfdp_record.empty())
        s += "\tIs not added to DB\nWarning: geometry read from the chip's SFDP tables; to keep "
             "it, add this record to flash_db.cfg:\n" +
             c.sfdp_record;
    else
        s += c.has_extid ? "OK" : "OK, Warning: 'extid=' not defined!";
    s += "\nDevice name:\t\"" + c.name + "\"";
    return s + CommandSetup(c);
}

std::string CommandSetup(const ChipText& c) {
    return Fmt("\nCMD Setup:\tErs:0x%X Rd:0x%X Wr:0x%X ChipErs:", c.erase_opcode,
               c.four_byte_opcodes ? 0x13 : 3, c.four_byte_opcodes ? 0x12 : 2) +
           c.chip_erase;
}

std::string Geometry(const ChipText& c) {
    std::string s = Fmt("\nPage size:\t0x%X, (%u) Bytes", c.page, c.page);
    if (c.block) s += Fmt("\nBlock size:\t0x%X, (%u) Kb", c.block, c.block >> 10);
    s += Fmt("\nSector size:\t0x%X, (%u) Kb", c.sector, c.sector >> 10);
    if (c.block) s += Fmt("\nBlock  numbers:\t%u ", c.total / c.block);
    s += Fmt("\nSector numbers:\t%u ", c.total / c.sector);
    s += Fmt("\nTotal Size:\t%u MB", c.total >> 20);
    return s;
}

std::string Preamble(const std::string& actual, Cable cable, const ChipText& chip) {
    return Banner(actual) + Detect(cable, Played(chip)) + Identify(cable, chip) + Geometry(chip);
}

std::string Progress(const char* format, uint32_t first, uint32_t len, uint32_t chunk,
                     bool aligned) {
    std::string s;
    uint32_t addr = first, done = 0;
    while (done < len) {
        uint32_t n = aligned ? chunk - addr % chunk : chunk;
        if (n > len - done) n = len - done;
        addr += n;
        done += n;
        char line[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        snprintf(line, sizeof line, format, addr,
                 static_cast<unsigned>(static_cast<uint64_t>(done) * 100 / len));
#pragma GCC diagnostic pop
        s += line;
    }
    return s;
}
