#include "chipdb/fake_chip.h"

namespace {

class Identify : public ChipTest {
protected:
    int Run(const char* db, std::vector<unsigned char> id) {  // db null: no flash_db.cfg
        if (db) Write("flash_db.cfg", db);
        std::copy(id.begin(), id.end(), chip.id);
        int r = 0;
        out = Output([&] { r = pgm.FLASH_Identify(); });
        return r;
    }
    std::string out;
};

TEST_F(Identify, JedecPathPrintsWholeSequence) {
    setup.use_lpt = 1, setup.lpt_addr = 0x378;
    ASSERT_EQ(1, Run("#\nname=W25Q32 mnfid=0xEF jedec=0x4016 extid=0 page=256 block=4096 "
                     "sector=0x10000 volime=0x400000\n",
                     {0xEF, 0x40, 0x16, 0, 0}));
    EXPECT_EQ(
        "\nSPI by LPT port: 0x378h, SCK period: 1us\n\nFlash Memory Info:\n"
        "Manufacturer:\t\"Winbond\"\nJEDEC ID code:\t0x4016\nExtended ID:\t0x0000\n"
        "\n\nSearch chip in:\tflash_db.cfg - OK\nDevice name:\t\"W25Q32\""
        "\nCMD Setup:\tErs:0x20 Rd:0x3 Wr:0x2 ChipErs:0xC7",
        out);
    EXPECT_EQ(1, chip.power_ups);
    EXPECT_EQ(0, pgm.adapter_active);
    EXPECT_EQ((std::vector<std::vector<unsigned char>>{{0x9F, 0, 0, 0, 0, 0}}), chip.frames);
    EXPECT_EQ(5, chip.read_lens[0]);
}

// Which record the scan settles on ("" = none) and what it prints; the adapter ends off.
TEST_F(Identify, RecordScanRules) {
    const std::string a = "name=A mnfid=0xEF jedec=0x4016 extid=0x1234 volime=1\n";
    const std::string b = "name=B mnfid=0xEF jedec=0x4016 extid=0 volime=1\n";
    const std::string c = "name=C mnfid=0xEF jedec=0x4016 volime=1\n";
    const struct {
        std::string db;
        std::vector<unsigned char> id;
        const char* name;
        const char* printed;
    } cases[] = {
        {b, {0xEF, 0x40, 0x16, 0, 0}, "", "- \tIs not added to DB\n"},  // first line
        {"\n" + b, {0xEF, 0x40, 0x16, 0, 0}, "B", "- OK\n"},
        {"\n" + b, {0xEF, 0x40, 0x16, 0, 0xFF}, "B", "- OK\n"},
        {"\n" + b, {0xEF, 0x40, 0x16, 1, 0}, "", "\tIs not"},
        {"\n" + a + "\n" + b, {0xEF, 0x40, 0x16, 0, 0}, "B", "- OK\n"},
        {"\n" + a + b, {0xEF, 0x40, 0x16, 0, 0}, "", "\tIs not"},  // adjacent line skipped
        {"\n" + c + "\n" + a,
         {0xEF, 0x40, 0x16, 0x12, 0x34},
         "C",
         "- OK, Warning: 'extid=' not defined!\n"},
        {"\n" + b, {0xEF, 0x40, 0x17, 0, 0}, "", "\tIs not"},
        {"\n" + b, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "", "\tIs not"},
        {"\n" + b,
         {0, 0, 0, 0, 0},
         "",
         "1us\n\n\nError: Can`t read the FLASH mem device!              \n"
         "Probably, pin`s connection is wrong.\n\n"},
        {"", {0xEF, 0x40, 0x16, 0, 0}, "", "- \nError: Can`t open file: flash_db.cfg\n"},
    };
    for (const auto& k : cases) {
        PGM_setup_ini(&setup);
        if (k.db.empty()) std::remove("flash_db.cfg");
        EXPECT_EQ(*k.name ? 1 : -1, Run(k.db.empty() ? nullptr : k.db.c_str(), k.id)) << k.db;
        EXPECT_EQ(k.name, setup.device_name);
        EXPECT_NE(std::string::npos, out.find(k.printed)) << out;
        EXPECT_EQ(0, pgm.adapter_active);
    }
}

TEST_F(Identify, ByNameIsPrefixMatchWithoutTouchingChip) {
    const char db[] =
        "#\nname=W25Q32BV mnfid=0xEF block=4096 volime=0x400000\n"
        "\nname=W25Q32 mnfid=0xC2 sector=0x10000 volime=0x800000\n";
    setup.has_device_name = 1, setup.device_name = "W25Q3";
    EXPECT_EQ(1, Run(db, {}));
    EXPECT_EQ(
        "\nOperation by chip name.\nDevice name:\t\"W25Q3\"\nSearch chip in:\tflash_db.cfg - "
        "OK\n\nCMD Setup:\tErs:0x20 Rd:0x3 Wr:0x2 ChipErs:0xC7",
        out);
    EXPECT_TRUE(chip.frames.empty() && chip.power_ups == 0 && setup.jedec_id == 0);
    setup.device_name = "W25Q32 ";  // only the later record has a blank there
    EXPECT_EQ(1, Run(db, {}));
    EXPECT_EQ(0xC2, setup.mnf_id);
    setup.device_name = "w25q32";
    EXPECT_EQ(-1, Run(db, {}));
    EXPECT_EQ("\nOperation by chip name.\nCan't find chip in 'flash_db.cfg'\n", out);
}

TEST_F(Identify, ParserKeepsLowBitsLastKeyAndDefaults) {
    EXPECT_EQ("\nDevice name:\t\"X\"", Output([&] {
                  EXPECT_EQ(1, DB_Parser("\nname=X mnfid=0x1EF page=0x100 page=0x10100 "
                                         "volime=0x400000 freq=0x10003\n",
                                         &pgm));
              }));
    EXPECT_EQ(0xEF, setup.mnf_id);
    EXPECT_EQ(0x100, setup.page_size);
    EXPECT_EQ(3, setup.freq);
    EXPECT_EQ(4096u, setup.block_size);
    EXPECT_EQ(0x10000u, setup.sector_size);
    EXPECT_FALSE(setup.has_block_size || setup.has_sector_size);
    EXPECT_EQ("\nDevice name:\t\"mnfid=0xEF\"\nflash_db.cfg file: 'volime' syntax error\n",
              Output([&] { EXPECT_EQ(-1, DB_Parser("\nname= mnfid=0xEF volime=zz\n", &pgm)); }));
}

}  // namespace
