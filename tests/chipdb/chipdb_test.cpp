// The chip database against a scripted chip: record scan, lookup by name, record values, erase
// setup per maker, the parameter check, and the repository's own flash_db.cfg.
#include <cstring>
#include <regex>
#include <sstream>

#include "chipdb/fake_chip.h"
#include "chipdb/manufacturer.h"
#include "run/cmdline.h"
#include "run/console.h"

namespace {

class ChipDb : public ChipTest {
protected:
    int Run(const std::string& db) {  // db "": no flash_db.cfg
        db.empty() ? void(std::remove("flash_db.cfg")) : Write("flash_db.cfg", db);
        int r = 0;
        return out = Output([&] { r = pgm.FLASH_Identify(); }), r;
    }
    std::string out;
};

// Which record the scan settles on for a chip answering EF 40 16 and `ext` ("" = none) and
// what it prints; the adapter ends off. The plain match is left to the whole runs.
TEST_F(ChipDb, RecordScanRules) {
    const std::string a = "name=A mnfid=0xEF jedec=0x4016 extid=0x1234 volime=1\n";
    const std::string b = "name=B mnfid=0xEF jedec=0x4016 extid=0 volime=1\n";
    const std::string c = "name=C mnfid=0xEF jedec=0x4016 volime=1\n";
    const std::tuple<std::string, uint16_t, std::string, const char*> cases[] = {
        {b, 0, "", "- \tIs not added to DB\n"},  // the first line is never a record
        {"\n" + b, 0x00FF, "B", "- OK\n"},
        {"\n" + b, 0x0100, "", "\tIs not"},
        {"\n" + a + b, 0, "", "\tIs not"},  // a record line right after another is skipped
        {"\n" + c + "\n" + a, 0x1234, "C", "- OK, Warning: 'extid=' not defined!\n"},
        {"", 0, "", "- \nError: Can`t open file: flash_db.cfg\n"},
    };
    for (const auto& [db, ext, name, printed] : cases) {
        setup = Setup_struct{}, chip.id[3] = ext >> 8, chip.id[4] = ext & 0xFF;
        EXPECT_EQ(name.empty() ? -1 : 1, Run(db)) << db;
        EXPECT_EQ(name, setup.device_name);
        EXPECT_NE(std::string::npos, out.find(printed)) << out;
        EXPECT_EQ(0, pgm.adapter_active);
    }
}

TEST_F(ChipDb, ByNameIsCaseSensitivePrefixMatchWithoutTouchingTheChip) {
    const std::string db =
        "#\nname=W25Q32BV mnfid=0xEF volime=0x400000\n\nname=W25Q32 mnfid=0xC2 volime=1\n";
    const std::pair<const char*, int> cases[] = {{"W25Q3", 0xEF}, {"W25Q32 ", 0xC2}, {"w25q32", 0}};
    for (const auto& [name, mnf_id] : cases) {
        setup = Setup_struct{}, setup.has_device_name = 1, setup.device_name = name;
        EXPECT_EQ(mnf_id ? 1 : -1, Run(db)) << name;
        EXPECT_EQ(mnf_id, setup.mnf_id) << name;
    }
    EXPECT_TRUE(chip.frames.empty());
}

// Values keep their low bits; absent block= and sector= take defaults without their flags.
TEST_F(ChipDb, ParserValueRules) {
    Output([&] { DB_Parser("\nname=X mnfid=0x1EF page=0x10100 volime=1 freq=0x10003\n", &pgm); });
    EXPECT_EQ(std::make_tuple(0xEF, 0x100, 3, 4096u, 0x10000u, 0, 0),
              std::make_tuple(setup.mnf_id, setup.page_size, setup.freq, setup.block_size,
                              setup.sector_size, setup.has_block_size, setup.has_sector_size));
}

// Erase opcode by erase unit size (0x77: left as it was); 16..32 KiB asks for a report. The
// whole runs cover 4 KiB.
TEST_F(ChipDb, EraseOpcodeBoundaries) {
    const std::pair<uint32_t, unsigned char> cases[] = {
        {4095, 0x77},  {8191, 0x20},  {8192, 0x40},  {16383, 0x40}, {16384, 0x40},
        {32767, 0x40}, {32768, 0x52}, {65535, 0x52}, {65536, 0xD8}, {0xFFFFFFFF, 0xD8}};
    const std::string report =
        std::string("\nHere undefined situation. Send please report to ") + TAMREL_CONTACT;
    for (const auto& [unit, opcode] : cases) {
        setup.mnf_id = 0xEF, setup.block_size = unit, setup.cmd_erase = 0x77;
        out = Output([&] { CManufacturer(&setup).configure_chip_setup(); });
        EXPECT_EQ(opcode, setup.cmd_erase) << unit;
        EXPECT_EQ(unit >= 16384 && unit <= 32767, out.rfind(report + "\nCMD", 0) == 0) << unit;
    }
}

// Makers the emulated chips don't cover: name, and erase unit from block 4 KiB / sector 64 KiB.
TEST_F(ChipDb, OtherMakersNameAndEraseUnit) {
    const std::tuple<unsigned char, std::string, uint32_t> cases[] = {
        {0xBF, "SST Microchip", 0x10000}, {0x1F, "Atmel", 0x1000}, {0x20, "ST Micron", 0x10000}};
    for (const auto& [id, name, unit] : cases) {
        setup.mnf_id = id, setup.block_size = 0x1000, setup.sector_size = 0x10000;
        CManufacturer m(&setup);
        EXPECT_EQ("Manufacturer:\t\"" + name + "\"", Output([&] { m.print_manufacturer(); }));
        Output([&] { m.configure_chip_setup(); });
        EXPECT_EQ(unit, setup.erase_size) << name;
    }
}

// Every refusal and the passes next to them, for a chip named by a W25Q32 record (4 MiB, 4 KiB
// erase unit) with `extra` keys appended (the last key wins) and the rest of the command line.
// A message starting with "\n" must end the output; "" means the request passes.
TEST_F(ChipDb, ParameterRefusalsAndPasses) {
    Write("data.bin", std::string(0x1000, 'x')), Write("empty.bin", "");
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {" page=z", "-i", "\nDB Error: 'page=' not given.\n\n"},
        {" block=0", "-i", "\nDB Error: 'block=' not given.\n\n"},
        {" sector=z", "-i", "\nDB Error: 'sector=' not given.\n\n"},
        {" volime=0", "-i", "\nDB Error: 'volime=' not given.\n\n"},
        {"", "-s -ab=0x400000 -al=0x500000", "\nError: argument -ab > -al\n"},
        {"", "-d", "\nError: Not defined dump file\n"},
        {"", "-v nope.bin", "\n\nError: can`t open file: \"nope.bin\"\n"},
        {"", "-w empty.bin", "\n\nError: \"empty.bin\" file is empty.\n"},
        {" page=8192", "-i", "\n\nflash_DB param error: Page or Block or Sector or Total size.\n"},
        {"", "-w -ab=0", "Error: -w needs a data file"},
        {"", "-v -ab=0", "Error: -v needs a data file"},
        {"", "-s -ab=0x400000", "Error: -ab=0x400000 lies beyond"},
        {"", "-w data.bin -ab=0x3FF000", ""},  // ends on the last byte
        {"", "-w data.bin -ab=0x3FF001", "runs past the chip's last address"},
        {"", "-e data.bin -ab=0x3FFF00", "runs past the chip's last address"},
        {"", "-w data.bin -ab=0x3FFF00 -al=0x3FFFFF", ""},  // -al= ends the range
        {" volime=0x2000000", "-w data.bin -ab=0xFFF800", "0x10007FF lies above 16 MiB"},
        {" volime=0x2000000", "-d d.bin -ab=0xFFF000", "0x1FFFFFF lies above 16 MiB"},
        {" mnfid=0xC8", "-w data.bin", "Error: no erase unit"},  // a maker without unit rule
        {" mnfid=0xC8", "-v data.bin", "Error: no erase unit"},
        {" mnfid=0xC8", "-e -ab=0x1000", "Error: no erase unit"},
        {" mnfid=0xC8", "-e", ""},                              // chip erase
        {" block=2048", "-e -al=0x10", "range erase refused"},  // no erase opcode
        {"", "-i -al=0x7FFFFFFF", ""},  // -al= past the end: clamped, see below
    };
    for (const auto& [extra, line, msg] : cases) {
        setup = Setup_struct{};
        std::ofstream("flash_db.cfg") << "#\nname=W25Q32 mnfid=0xEF page=256 block=4096 "
                                      << "sector=0x10000 volime=0x400000" << extra << "\n";
        std::string cmd = std::string("tamrel -n=W25Q32 ") + line;
        std::vector<char*> argv;
        for (char* w = strtok(cmd.data(), " "); w; w = strtok(nullptr, " ")) argv.push_back(w);
        CCMDP(&pgm).Parse(static_cast<int>(argv.size()), argv.data());
        int r = 0;
        out = Output([&] { pgm.FLASH_Identify(), r = pgm.FLASH_Check_Parameters(); });
        EXPECT_EQ(msg.empty() ? 1 : -1, r) << line << out;
        const size_t from = msg[0] == '\n' ? out.size() - std::min(out.size(), msg.size()) : 0;
        EXPECT_NE(std::string::npos, out.find(msg, from)) << line << out;
        if (setup.data_file) fclose(setup.data_file), setup.data_file = nullptr;
    }
    EXPECT_EQ(0x3FFFFFu, setup.addr_last);
}

// The repository's flash_db.cfg: every record usable, reachable and with a real erase command.
TEST_F(ChipDb, RepoFlashDbEveryRecordParsesIsReachableAndErasesRight) {
    std::ifstream in(TAMREL_SOURCE_DIR "/flash_db.cfg", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::ofstream("flash_db.cfg") << text.str();
    std::vector<std::string> names;
    bool after_record = true;  // the first line is never a record
    for (std::string line; std::getline(text, line); after_record = line.rfind("name=", 0) == 0) {
        if (line.rfind("name=", 0) != 0) continue;
        SCOPED_TRACE(line);
        EXPECT_FALSE(after_record) << "the scan skips this record";
        const std::string rec = "\n" + line + "\n";
        int ok = 0;
        setup = Setup_struct{};
        const std::string name = pgm.Get_env_txt(rec.c_str(), "name", &ok);
        for (const std::string& earlier : names) EXPECT_NE(0u, earlier.rfind(name, 0)) << earlier;
        names.push_back(name);

        // Identify a chip answering this record's ids against the whole file.
        const long jedec = pgm.Get_env_val(rec.c_str(), "jedec", &ok);
        const long ext = pgm.Get_env_val(rec.c_str(), "extid", &ok);
        const long ids[5] = {pgm.Get_env_val(rec.c_str(), "mnfid", &ok), jedec >> 8, jedec,
                             ext >> 8, ext};
        for (int i = 0; i < 5; i++) chip.id[i] = static_cast<unsigned char>(ids[i]);
        int r = 0;
        Output([&] { r = pgm.FLASH_Identify(); });
        ASSERT_EQ(1, r);
        EXPECT_EQ(name, setup.device_name);
        EXPECT_LE(setup.total_size, 0x1000000u);
        Output([&] { r = pgm.FLASH_Check_Parameters(); });  // page=, sector=, volime= given
        EXPECT_EQ(1, r);
        // Makers with an erase unit rule: the opcode's largest listed size is that unit.
        char listed[64];
        snprintf(listed, sizeof listed, " erase=(\\S*,)?0x%02X:(\\w+\\|)*%uK[, \n]",
                 setup.cmd_erase, setup.erase_size / 1024);
        EXPECT_TRUE(!setup.erase_size || std::regex_search(rec, std::regex(listed))) << listed;
    }
    EXPECT_GT(names.size(), 100u);
}

}  // namespace
