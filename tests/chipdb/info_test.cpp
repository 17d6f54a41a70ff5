#include "chipdb/fake_chip.h"

namespace {

using Info = ChipTest;

TEST_F(Info, StatusBitsByManufacturer) {
    setup.mnf_id = 0xEF;
    chip.status = {0x9C, 0x9C, 0x43};
    EXPECT_EQ(
        "\n\nStatus Register:\nbit 7: Status Register\t\t(SRP)\t= 1\nbit 6: \t\t\t\t(RES)\t= 0\n"
        "bit 5: \t\t\t\t(TB) \t= 0\nbit 4: Block Protect\t\t(BP2)\t= 1\n"
        "bit 3: Block Protect\t\t(BP1)\t= 1\nbit 2: Block Protect\t\t(BP0)\t= 1\n"
        "bit 1: Write Enable Latch\t(WEL)\t= 0\nbit 0: Write in Progress\t(BSY)\t= 0\n"
        "Status register is protected, you will need set WP# pin high!\n",
        Output([&] { pgm.FLASH_Info(); }));
    setup.mnf_id = 0x01;
    const std::string spansion = Output([&] { pgm.FLASH_Info(); });
    for (const char* line :
         {"bit 7: Status Register Write Disable\t(SRWD)\t= 1\n",
          "bit 6: Programming Error Occurred\t(P_ERR)\t= 0\n",
          "bit 5: Erase Error Occurred\t\t(E_ERR)\t= 0\n", "bit 2: Block Protect\t\t\t(BP0)\t= 1\n",
          "bit 1: Write Enable Latch\t\t(WEL)\t= 0\n", "bit 0: Write in Progress\t\t(WIP)\t= 0\n"})
        EXPECT_NE(std::string::npos, spansion.find(line)) << line;
    const std::string plain = Output([&] { pgm.FLASH_Info(); });
    EXPECT_NE(std::string::npos, plain.find("(WIP)\t= 1\n"));
    EXPECT_EQ(std::string::npos, plain.find("protected"));
    EXPECT_EQ(3u, chip.frames.size());
}

}  // namespace
