// Status register report of the -i switch.
#include <cstdio>

#include "run/tamrel.h"

namespace {

// Bit names indexed by bit number; the tab counts line the columns up per table.
const char* const kGeneralBits[8] = {
    "bit 0: Write in Progress\t(BSY)",
    "bit 1: Write Enable Latch\t(WEL)",
    "bit 2: Block Protect\t\t(BP0)",
    "bit 3: Block Protect\t\t(BP1)",
    "bit 4: Block Protect\t\t(BP2)",
    "bit 5: \t\t\t\t(TB) ",
    "bit 6: \t\t\t\t(RES)",
    "bit 7: Status Register\t\t(SRP)",
};

const char* const kSpansionBits[8] = {
    "bit 0: Write in Progress\t\t(WIP)",
    "bit 1: Write Enable Latch\t\t(WEL)",
    "bit 2: Block Protect\t\t\t(BP0)",
    "bit 3: Block Protect\t\t\t(BP1)",
    "bit 4: Block Protect\t\t\t(BP2)",
    "bit 5: Erase Error Occurred\t\t(E_ERR)",
    "bit 6: Programming Error Occurred\t(P_ERR)",
    "bit 7: Status Register Write Disable\t(SRWD)",
};

const unsigned char kSpansionId = 0x01;

}  // namespace

void CTAMREL::FLASH_Info() {
    unsigned char status = Get_StatusReg();
    const char* const* names = (setup->mnf_id == kSpansionId) ? kSpansionBits : kGeneralBits;

    if (setup->geometry_from_sfdp)
        printf("\nGeometry:\tread from SFDP (the chip is not in flash_db.cfg)");
    printf("\n\nStatus Register:\n");
    for (int bit = 7; bit >= 0; --bit) {
        printf("%s\t= %u\n", names[bit], static_cast<unsigned>((status >> bit) & 1));
    }
    if (status & 0x80) printf("Status register is protected, you will need set WP# pin high!\n");
}
