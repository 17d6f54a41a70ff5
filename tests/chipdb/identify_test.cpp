#include "chipdb/fake_chip.h"
#include "chipdb/manufacturer.h"
#include "run/console.h"

namespace {

class Identify : public ChipTest {
protected:
    int Run(const std::string& db) {  // db "": no flash_db.cfg
        std::remove("flash_db.cfg");
        if (!db.empty()) std::ofstream("flash_db.cfg") << db;
        int r = 0;
        out = Output([&] { r = pgm.FLASH_Identify(); });
        return r;
    }
    std::string out;
};

// Which record the scan settles on for a chip answering EF 40 16 and `ext` ("" = none) and
// what it prints; the adapter ends off.
TEST_F(Identify, RecordScanRules) {
    const std::string a = "name=A mnfid=0xEF jedec=0x4016 extid=0x1234 volime=1\n";
    const std::string b = "name=B mnfid=0xEF jedec=0x4016 extid=0 volime=1\n";
    const std::string c = "name=C mnfid=0xEF jedec=0x4016 volime=1\n";
    const std::tuple<std::string, uint16_t, std::string, const char*> cases[] = {
        {b, 0, "", "- \tIs not added to DB\n"},  // the first line is never a record
        {"\n" + b, 0, "B", "- OK\n"},
        {"\n" + b, 0x00FF, "B", "- OK\n"},
        {"\n" + b, 0x0100, "", "\tIs not"},
        {"\n" + a + b, 0, "", "\tIs not"},  // a record line right after another is skipped
        {"\n" + c + "\n" + a, 0x1234, "C", "- OK, Warning: 'extid=' not defined!\n"},
        {"", 0, "", "- \nError: Can`t open file: flash_db.cfg\n"},
    };
    for (const auto& [db, ext, name, printed] : cases) {
        setup = Setup_struct{};
        chip.id[3] = ext >> 8, chip.id[4] = ext & 0xFF;
        EXPECT_EQ(name.empty() ? -1 : 1, Run(db)) << db;
        EXPECT_EQ(name, setup.device_name);
        EXPECT_NE(std::string::npos, out.find(printed)) << out;
        EXPECT_EQ(0, pgm.adapter_active);
    }
}

TEST_F(Identify, ByNameIsCaseSensitivePrefixMatchWithoutTouchingTheChip) {
    const std::string db =
        "#\nname=W25Q32BV mnfid=0xEF volime=0x400000\n\nname=W25Q32 mnfid=0xC2 volime=1\n";
    const std::pair<const char*, int> cases[] = {{"W25Q3", 0xEF}, {"W25Q32 ", 0xC2}, {"w25q32", 0}};
    for (const auto& [name, mnf_id] : cases) {
        setup = Setup_struct{};
        setup.has_device_name = 1, setup.device_name = name;
        EXPECT_EQ(mnf_id ? 1 : -1, Run(db)) << name;
        EXPECT_EQ(mnf_id, setup.mnf_id) << name;
    }
    EXPECT_TRUE(chip.frames.empty());
}

// Values keep their low bits; absent block= and sector= take defaults without their flags.
TEST_F(Identify, ParserValueRules) {
    Output([&] { DB_Parser("\nname=X mnfid=0x1EF page=0x10100 volime=1 freq=0x10003\n", &pgm); });
    EXPECT_EQ(std::make_tuple(0xEF, 0x100, 3, 4096u, 0x10000u, 0, 0),
              std::make_tuple(setup.mnf_id, setup.page_size, setup.freq, setup.block_size,
                              setup.sector_size, setup.has_block_size, setup.has_sector_size));
}

// Erase opcode by erase unit size (0x77: left as it was); 16..32 KiB asks for a report.
TEST_F(Identify, EraseOpcodeBoundaries) {
    const std::pair<uint32_t, unsigned char> cases[] = {
        {0, 0x77},     {4095, 0x77},    {4096, 0x20},      {8191, 0x20},  {8192, 0x40},
        {16383, 0x40}, {16384, 0x40},   {32767, 0x40},     {32768, 0x52}, {65535, 0x52},
        {65536, 0xD8}, {0x40000, 0xD8}, {0xFFFFFFFF, 0xD8}};
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
TEST_F(Identify, OtherMakersNameAndEraseUnit) {
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

}  // namespace
