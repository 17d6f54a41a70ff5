#include "e2e/expected.h"

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

// The parameter check's lines from the sizes as printed, worked out by hand for each record:
// page, block (none: ""), sector, block and sector counts, whole MiB.
std::string Sizes(const char* page, const char* block, const char* sector, const char* blocks,
                  const char* sectors, const char* mib) {
    const std::string b = block;
    return std::string("\nPage size:\t") + page + " Bytes" +
           (b.empty() ? "" : "\nBlock size:\t" + b + " Kb") + "\nSector size:\t" + sector + " Kb" +
           (b.empty() ? "" : std::string("\nBlock  numbers:\t") + blocks + " ") +
           "\nSector numbers:\t" + sectors + " \nTotal Size:\t" + mib + " MB";
}

const char k256[] = "0x100, (256)";
const char k4K[] = "0x1000, (4)";
const char k64K[] = "0x10000, (64)";
const char k256K[] = "0x40000, (256)";
const std::string k128KiB = Sizes(k256, k4K, k64K, "32", "2", "0");
const std::string k32MiB = Sizes(k256, k4K, k64K, "8192", "512", "32");

}  // namespace

const ChipText kW25X10 = {"W25X10", "Winbond", 0x3011, 0, true, k128KiB, 0x20000, 0x20};
const ChipText kW25Q32 = {"W25Q32", "Winbond", 0x4016,
                          0,        true,      Sizes(k256, k4K, k64K, "1024", "64", "4"),
                          0x400000, 0x20};
const ChipText kMX25L1005 = {"MX25L1005", "Macronix", 0x2011, 0, true, k128KiB, 0x20000, 0xD8};
const ChipText kS25FL128S1 = {
    "S25FL128Sxxxxxx1", "Spansion", 0x2018, 0x4D00, true, Sizes(k256, "", k256K, "", "64", "16"),
    0x1000000,          0xD8};
const ChipText kW25Q256 = {"W25Q256", "Winbond", 0x4019, 0, true, k32MiB, 0x2000000, 0x20};
const ChipText kGD25Q256 = {"GD25Q256", "", 0x4019, 0, true, k32MiB, 0x2000000, 0xDC, true};
const ChipText kS25FL512S = {"S25FL512S", "Spansion", 0x0220,
                             0x4D00,      true,       Sizes(k256, "", k256K, "", "256", "64"),
                             0x4000000,   0xDC,       true};
const ChipText kMX66L1G45G = {
    "MX66L1G45G", "Macronix", 0x201B, 0, true, Sizes(k256, k4K, k64K, "32768", "2048", "128"),
    0x8000000,    0xDC,       true};
const ChipText kSST26VF016B = {"SST26VF016B", "SST Microchip",
                               0x2641,        0,
                               true,          Sizes(k256, k4K, k4K, "512", "512", "2"),
                               0x200000,      0x20};
const ChipText kM45PE10 = {
    "M45PE10", "ST Micron", 0x4011, 0,          true, Sizes(k256, "", k64K, "", "2", "0"),
    0x20000,   0xD8,        false,  " not used"};
const ChipText kMX25V1635F = {
    "MX25V1635F", "Macronix", 0x2315, 0,     true, Sizes(k256, k4K, k64K, "512", "32", "2"),
    0x200000,     0xD8,       false,  "0x60"};
const ChipText kSfdpEF4099 = {
    "SFDP-EF4099",
    "Winbond",
    0x4099,
    0,
    true,
    Sizes(k256, k64K, k64K, "16", "16", "1"),
    0x100000,
    0xD8,
    false,
    "0xC7",
    "W25Q80",
    "name=SFDP-EF4099 mnfid=0xEF jedec=0x4099 extid=0 page=256 block=0x10000 sector=0x10000 "
    "volime=0x100000 erase=0x20:4K,0x52:32K,0xD8:64K unit=sector"};
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

std::string ExpectedFile(const std::string& name, const std::string& actual) {
    std::ifstream f(std::string(TAMREL_SOURCE_DIR) + "/tests/e2e/expected/" + name + ".txt",
                    std::ios::binary);
    std::stringstream text;
    text << f.rdbuf();
    std::string s = text.str();
    const std::string placeholder = "@BUILD_DATE@";
    const size_t at = s.find(placeholder);
    if (at != std::string::npos) s.replace(at, placeholder.size(), Banner(actual).substr(at));
    return s;
}

std::string CableName(Cable cable) {
    return cable == Cable::Lpt ? "lpt" : "usb";
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

const char kIdleStatus[] =
    "\n\nStatus Register:\nbit 7: Status Register\t\t(SRP)\t= 0\nbit 6: \t\t\t\t(RES)\t= 0"
    "\nbit 5: \t\t\t\t(TB) \t= 0\nbit 4: Block Protect\t\t(BP2)\t= 0\nbit 3: Block Protect\t\t"
    "(BP1)\t= 0\nbit 2: Block Protect\t\t(BP0)\t= 0\nbit 1: Write Enable Latch\t(WEL)\t= 0"
    "\nbit 0: Write in Progress\t(BSY)\t= 0\n";

std::string Preamble(const std::string& actual, Cable cable, const ChipText& chip) {
    return Banner(actual) + Detect(cable, Played(chip)) + Identify(cable, chip) + chip.geometry;
}

namespace {

struct ProgressKind {
    const char* label;
    bool page_bounded;  // chunks end on page boundaries; otherwise whole pages from the start
};

const ProgressKind kProgress[] = {
    {"Write data:\t\t", true},   {"Restore data Head:\t", true}, {"Restore Sector Tail:\t", true},
    {"Verify data:\t\t", false}, {"Reading dump:\t\t", false},   {"Read data:\t\t", false},
};

struct ProgressLine {
    const ProgressKind* kind = nullptr;
    unsigned long addr = 0, percent = 0;
    size_t end = 0;  // just behind its "\r"
};

ProgressLine ParseLine(const std::string& s, size_t at) {
    ProgressLine p;
    for (const ProgressKind& k : kProgress) {
        const std::string label = k.label;
        if (s.compare(at, label.size(), label) != 0) continue;
        const size_t cr = s.find('\r', at);
        if (cr == std::string::npos) return p;
        if (sscanf(s.c_str() + at + label.size(), "0x%8lX (%lu%%)", &p.addr, &p.percent) != 2)
            return p;
        p.kind = &k;
        p.end = cr + 1;
        return p;
    }
    return p;
}

}  // namespace

std::string Squeeze(const std::string& out, uint32_t page) {
    std::string s;
    size_t at = 0;
    while (at < out.size()) {
        const ProgressLine first = ParseLine(out, at);
        if (!first.kind) {
            s += out[at++];
            continue;
        }
        std::vector<ProgressLine> run = {first};
        for (ProgressLine next; (next = ParseLine(out, run.back().end)).kind == first.kind;)
            run.push_back(next);
        bool shaped = !first.kind->page_bounded || run.size() == 1 || first.addr % page == 0;
        for (size_t i = 1; i < run.size(); ++i) {
            const unsigned long step = run[i].addr - run[i - 1].addr;
            const bool last = i + 1 == run.size();
            shaped = shaped && run[i].addr > run[i - 1].addr && step <= page &&
                     run[i].percent >= run[i - 1].percent;
            if (!last && first.kind->page_bounded) shaped = shaped && run[i].addr % page == 0;
            if (!last && !first.kind->page_bounded) shaped = shaped && step == page;
        }
        if (!shaped) s += "<bad progress>";
        s += out.substr(at, first.end - at);
        if (run.size() >= 3) s += "...\r";
        if (run.size() >= 2)
            s += out.substr(run[run.size() - 2].end, run.back().end - run[run.size() - 2].end);
        at = run.back().end;
    }
    return s;
}
