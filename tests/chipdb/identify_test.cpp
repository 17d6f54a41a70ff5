#include "chipdb/fake_chip.h"

namespace {

const char kW25Q32[] =
    "name=W25Q32 mnfid=0xEF jedec=0x4016 extid=0 page=256 block=4096 sector=0x10000 "
    "volime=0x400000\n";

class Identify : public ChipTest {
  protected:
    // Identifies a chip answering `id` against `db`; returns the result, keeps the output.
    int Run(const std::string& db, std::vector<unsigned char> id) {
        Write("flash_db.cfg", db);
        std::copy(id.begin(), id.end(), chip.id);
        int r = 0;
        out = Output([&] { r = pgm.FLASH_Identify(); });
        return r;
    }
    std::string out;
};

TEST_F(Identify, JedecPathPrintsWholeSequenceAndPowersTwice) {
    setup.use_lpt = 1;
    setup.lpt_addr = 0x378;
    ASSERT_EQ(1, Run(std::string("# chips\n") + kW25Q32, {0xEF, 0x40, 0x16, 0x00, 0x00}));
    EXPECT_EQ(
        "\nSPI by LPT port: 0x378h, SCK period: 1us\n\nFlash Memory Info:\n"
        "Manufacturer:\t\"Winbond\"\nJEDEC ID code:\t0x4016\nExtended ID:\t0x0000\n"
        "\n\nSearch chip in:\tflash_db.cfg - OK\nDevice name:\t\"W25Q32\""
        "\nCMD Setup:\tErs:0x20 Rd:0x3 Wr:0x2 ChipErs:0xC7",
        out);
    EXPECT_EQ(1, chip.power_ups);
    EXPECT_EQ(1, chip.power_downs);
    EXPECT_EQ(0, pgm.adapter_active);
    ASSERT_EQ(1u, chip.frames.size());
    EXPECT_EQ((std::vector<unsigned char>{0x9F, 0, 0, 0, 0, 0}), chip.frames[0]);
    EXPECT_EQ(5, chip.read_lens[0]);
    EXPECT_EQ(0x1000u, setup.erase_size);
}

// The record scan, one row per quirk: which record a chip ends up with ("" = none).
TEST_F(Identify, RecordScanRules) {
    struct Case {
        const char* what;
        std::string db;
        std::vector<unsigned char> id;
        const char* name;
        const char* verdict;  // text printed right after the search line
    };
    const std::string a = "name=A mnfid=0xEF jedec=0x4016 extid=0x1234 volime=1\n";
    const std::string b = "name=B mnfid=0xEF jedec=0x4016 extid=0 volime=1\n";
    const std::string c = "name=C mnfid=0xEF jedec=0x4016 volime=1\n";
    const Case cases[] = {
        {"first line is never a record", b, {0xEF, 0x40, 0x16, 0, 0}, "", "\tIs not added"},
        {"extid=0 takes 0x0000", "\n" + b, {0xEF, 0x40, 0x16, 0, 0}, "B", "OK\n"},
        {"extid=0 takes 0x00FF", "\n" + b, {0xEF, 0x40, 0x16, 0, 0xFF}, "B", "OK\n"},
        {"extid=0 refuses 0x0100", "\n" + b, {0xEF, 0x40, 0x16, 1, 0}, "", "\tIs not"},
        {"other extid passed over", "\n" + a + "\n" + b, {0xEF, 0x40, 0x16, 0, 0}, "B", "OK"},
        {"adjacent record skipped", "\n" + a + b, {0xEF, 0x40, 0x16, 0, 0}, "", "\tIs not"},
        {"record without extid",
         "\n" + c + "\n" + a,
         {0xEF, 0x40, 0x16, 0x12, 0x34},
         "C",
         "OK, Warning: 'extid=' not defined!\n"},
        {"jedec mismatch", "\n" + b, {0xEF, 0x40, 0x17, 0, 0}, "", "\tIs not"},
        {"mnfid mismatch", "\n" + b, {0xC2, 0x40, 0x16, 0, 0}, "", "\tIs not"},
        {"all 0xFF is not in the db",
         "\n" + b,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         "",
         "\tIs not added to DB\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        PGM_setup_ini(&setup);
        int r = Run(k.db, k.id);
        EXPECT_EQ(*k.name ? 1 : -1, r);
        EXPECT_EQ(k.name, setup.device_name);
        const std::string tail = out.substr(out.find("flash_db.cfg - ") + 15);
        EXPECT_EQ(0u, tail.find(k.verdict)) << tail;
    }
}

TEST_F(Identify, UnreadableChipReleasesAdapter) {
    setup.use_usb = 1;
    EXPECT_EQ(-1, Run(std::string("\n") + kW25Q32, {0, 0, 0, 0, 0}));
    EXPECT_EQ(
        "\nSPI by USB, SCK period: 1us\n\n\nError: Can`t read the FLASH mem device!"
        "              \nProbably, pin`s connection is wrong.\n\n",
        out);
    EXPECT_EQ(0, pgm.adapter_active);
    EXPECT_EQ(1, chip.power_downs);
}

TEST_F(Identify, MissingDatabase) {
    std::copy_n("\xEF\x40\x16", 3, chip.id);
    out = Output([&] { EXPECT_EQ(-1, pgm.FLASH_Identify()); });
    EXPECT_NE(std::string::npos,
              out.find("flash_db.cfg - \nError: Can`t open file: flash_db.cfg\n"));
    EXPECT_EQ(0, pgm.adapter_active);
}

TEST_F(Identify, ByNameTakesFirstPrefixMatchWithoutTouchingChip) {
    const std::string db =
        "#\nname=W25Q32BV mnfid=0xEF page=256 block=4096 volime=0x400000\n"
        "\nname=W25Q32 mnfid=0xC2 page=256 sector=0x10000 volime=0x800000\n";
    setup.has_device_name = 1;
    setup.device_name = "W25Q3";
    EXPECT_EQ(1, Run(db, {}));
    EXPECT_EQ(
        "\nOperation by chip name.\nDevice name:\t\"W25Q3\"\nSearch chip in:\tflash_db.cfg - OK\n"
        "\nCMD Setup:\tErs:0x20 Rd:0x3 Wr:0x2 ChipErs:0xC7",
        out);
    EXPECT_EQ(0x400000u, setup.total_size);
    EXPECT_TRUE(chip.frames.empty());
    EXPECT_EQ(0, chip.power_ups);
    EXPECT_EQ(0, setup.jedec_id);

    setup.device_name = "W25Q32 ";  // the blank belongs to the key: only the later record
    EXPECT_EQ(1, Run(db, {}));
    EXPECT_EQ(0xC2, setup.mnf_id);
    setup.device_name = "w25q32";
    EXPECT_EQ(-1, Run(db, {}));
    EXPECT_EQ("\nOperation by chip name.\nCan't find chip in 'flash_db.cfg'\n", out);
}

TEST_F(Identify, ParserRules) {
    struct Case {
        const char* line;
        int result;
        const char* out;
    };
    const Case cases[] = {
        {"\nname=X mnfid=0x1EF page=0x100 page=0x10100 volime=0x400000 freq=0x10003\n", 1,
         "\nDevice name:\t\"X\""},
        {"\nname=Y page=256 volime=0x400000\n", -1,
         "\nDevice name:\t\"Y\"\nflash_db.cfg file: 'mnfid' syntax error\n"},
        {"\nname= mnfid=0xEF volime=zz\n", -1,
         "\nDevice name:\t\"mnfid=0xEF\"\nflash_db.cfg file: 'volime' syntax error\n"},
    };
    for (const Case& k : cases) {
        PGM_setup_ini(&setup);
        int r = 0;
        EXPECT_EQ(k.out, Output([&] { r = DB_Parser(k.line, &pgm); })) << k.line;
        EXPECT_EQ(k.result, r) << k.line;
    }
    PGM_setup_ini(&setup);
    Output([&] { DB_Parser(cases[0].line, &pgm); });
    EXPECT_EQ(0xEF, setup.mnf_id);
    EXPECT_EQ(0x100, setup.page_size);
    EXPECT_EQ(3, setup.freq);
    EXPECT_EQ(4096u, setup.block_size);  // defaults, flags left clear
    EXPECT_EQ(0x10000u, setup.sector_size);
    EXPECT_FALSE(setup.has_block_size || setup.has_sector_size);
    EXPECT_TRUE(setup.has_page_size && setup.has_total_size);
}

}  // namespace
