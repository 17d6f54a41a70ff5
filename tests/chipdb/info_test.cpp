#include "chipdb/fake_chip.h"

namespace {

using Info = ChipTest;

TEST_F(Info, StatusBitsByManufacturer) {
    struct Case {
        unsigned char mnf, status;
        const char* out;
    };
    const Case cases[] = {
        {0xEF, 0x9C,
         "\n\nStatus Register:\n"
         "bit 7: Status Register\t\t(SRP)\t= 1\n"
         "bit 6: \t\t\t\t(RES)\t= 0\n"
         "bit 5: \t\t\t\t(TB) \t= 0\n"
         "bit 4: Block Protect\t\t(BP2)\t= 1\n"
         "bit 3: Block Protect\t\t(BP1)\t= 1\n"
         "bit 2: Block Protect\t\t(BP0)\t= 1\n"
         "bit 1: Write Enable Latch\t(WEL)\t= 0\n"
         "bit 0: Write in Progress\t(BSY)\t= 0\n"
         "Status register is protected, you will need set WP# pin high!\n"},
        {0x01, 0x9C,
         "\n\nStatus Register:\n"
         "bit 7: Status Register Write Disable\t(SRWD)\t= 1\n"
         "bit 6: Programming Error Occurred\t(P_ERR)\t= 0\n"
         "bit 5: Erase Error Occurred\t\t(E_ERR)\t= 0\n"
         "bit 4: Block Protect\t\t\t(BP2)\t= 1\n"
         "bit 3: Block Protect\t\t\t(BP1)\t= 1\n"
         "bit 2: Block Protect\t\t\t(BP0)\t= 1\n"
         "bit 1: Write Enable Latch\t\t(WEL)\t= 0\n"
         "bit 0: Write in Progress\t\t(WIP)\t= 0\n"
         "Status register is protected, you will need set WP# pin high!\n"},
        {0xC2, 0x43,
         "\n\nStatus Register:\n"
         "bit 7: Status Register\t\t(SRP)\t= 0\n"
         "bit 6: \t\t\t\t(RES)\t= 1\n"
         "bit 5: \t\t\t\t(TB) \t= 0\n"
         "bit 4: Block Protect\t\t(BP2)\t= 0\n"
         "bit 3: Block Protect\t\t(BP1)\t= 0\n"
         "bit 2: Block Protect\t\t(BP0)\t= 0\n"
         "bit 1: Write Enable Latch\t(WEL)\t= 1\n"
         "bit 0: Write in Progress\t(BSY)\t= 1\n"},
    };
    for (const Case& k : cases) {
        setup.mnf_id = k.mnf;
        chip.status = {k.status};
        EXPECT_EQ(k.out, Output([&] { pgm.FLASH_Info(); }));
    }
    EXPECT_EQ(3u, chip.frames.size());  // one status read per report
}

}  // namespace
