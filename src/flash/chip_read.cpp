#include "flash/chip_read.h"

#include <cstring>

#include "run/tamrel.h"

namespace {
// Largest read per frame, so that a frame always fits io_buf.
const unsigned long kMaxReadFrame = 0x10000;
}  // namespace

bool Read_Chip(CTAMREL* pgm, unsigned long addr, unsigned long len, unsigned char* dst) {
    while (len > 0 && !pgm->Cable_Lost()) {
        const unsigned long n = len < kMaxReadFrame ? len : kMaxReadFrame;
        pgm->Read_Block(addr, n);
        memcpy(dst, pgm->io_buf, n);
        addr += n;
        dst += n;
        len -= n;
    }
    return !pgm->Cable_Lost();
}

bool Chip_Holds(CTAMREL* pgm, unsigned long addr, const unsigned char* data, unsigned long len) {
    while (len > 0) {
        const unsigned long n = len < kMaxReadFrame ? len : kMaxReadFrame;
        pgm->Read_Block(addr, n);
        if (pgm->Cable_Lost() || memcmp(pgm->io_buf, data, n) != 0) return false;
        addr += n;
        data += n;
        len -= n;
    }
    return true;
}
