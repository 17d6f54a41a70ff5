#include "flash/write_protect.h"

#include <cstdio>

namespace {

// BP0..BP2 (bits 2-4) protect on every maker unless listed here. Bit 7 (SRP/SRWD) only locks
// the status register, and TB or SEC (bits 5, 6 on many parts) only say where the BP bits
// act, so neither protects the array alone.
struct ProtectBits {
    uint8_t mnf_id;
    unsigned char mask;
};

const unsigned char kDefaultMask = 0x1C;

const ProtectBits kProtectBits[] = {
    {0x1F, 0x0C},  // Atmel DF parts: bits 3-2 sector protection state, bit 4 the WP# pin level
    {0x20, 0x5C},  // Micron: BP3 in bit 6 (bit 5 is TB)
    {0x9D, 0x3C},  // ISSI: BP3 in bit 5 (bit 6 is QE)
    {0xC2, 0x3C},  // Macronix: BP3 in bit 5 (bit 6 is QE)
};

}  // namespace

uint8_t Maker_Protect_Mask(uint8_t mnf_id) {
    for (const ProtectBits& p : kProtectBits)
        if (p.mnf_id == mnf_id) return p.mask;
    return kDefaultMask;
}

bool Refuse_Protected(uint8_t mask, unsigned char status, const char* operation) {
    const unsigned char set = status & mask;
    if (set == 0) return false;
    printf(
        "\nError: status register 0x%02X: block protection bits 0x%02X set, %s refused; -u "
        "clears them\n",
        status, set, operation);
    return true;
}
