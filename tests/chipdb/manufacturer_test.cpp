#include "chipdb/manufacturer.h"

#include "chipdb/fake_chip.h"
#include "run/console.h"

namespace {

using Manufacturer = ChipTest;

TEST_F(Manufacturer, EraseOpcodeBoundaries) {
    const struct {
        uint32_t unit;
        unsigned char opcode;  // 0x77: left as it was
    } cases[] = {{0, 0x77},     {4095, 0x77},    {4096, 0x20},      {8191, 0x20},  {8192, 0x40},
                 {16383, 0x40}, {16384, 0x40},   {32767, 0x40},     {32768, 0x52}, {65535, 0x52},
                 {65536, 0xD8}, {0x40000, 0xD8}, {0xFFFFFFFF, 0xD8}};
    for (const auto& k : cases) {
        setup.mnf_id = 0xEF, setup.block_size = k.unit, setup.cmd_erase = 0x77;
        CManufacturer m(&setup);
        const std::string out = Output([&] { m.configure_chip_setup(); });
        EXPECT_EQ(k.opcode, setup.cmd_erase) << k.unit;
        const bool undefined = k.unit >= 16384 && k.unit <= 32767;
        EXPECT_EQ(undefined, out.find(std::string("\nHere undefined situation. Send please "
                                                  "report to ") +
                                      TAMREL_CONTACT + "\nCMD") == 0)
            << k.unit;
    }
}

TEST_F(Manufacturer, NameAndEraseUnitByMaker) {
    const struct {
        unsigned char id;
        const char* line;
        uint32_t erase_size;  // block 0x1000, sector 0x10000; unknown makers leave 0
    } cases[] = {{0xBF, "Manufacturer:\t\"SST Microchip\"", 0x10000},
                 {0x1F, "Manufacturer:\t\"Atmel\"", 0x1000},
                 {0xEF, "Manufacturer:\t\"Winbond\"", 0x1000},
                 {0x01, "Manufacturer:\t\"Spansion\"", 0x10000},
                 {0xC2, "Manufacturer:\t\"Macronix\"", 0x10000},
                 {0x20, "Manufacturer:\t\"ST Micron\"", 0x10000},
                 {0xC8, "Not indentify ID", 0}};
    for (const auto& k : cases) {
        PGM_setup_ini(&setup);
        setup.mnf_id = k.id, setup.block_size = 0x1000, setup.sector_size = 0x10000;
        CManufacturer m(&setup);
        EXPECT_EQ(k.line, Output([&] { m.print_manufacturer(); }));
        const std::string cmd = Output([&] { m.configure_chip_setup(); });
        EXPECT_EQ(k.erase_size, setup.erase_size);
        if (!k.erase_size) {
            EXPECT_EQ("\nCMD Setup:\tErs:0x0 Rd:0x3 Wr:0x2 ChipErs:0xC7", cmd);
        }
    }
}

}  // namespace
