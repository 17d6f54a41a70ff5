#include "flash/range_check.h"

#include <cstdio>

bool Erase_Size_Usable(const Setup_struct* s) {
    if (s->erase_size > 0) return true;
    printf("\nError: erase unit size of the chip is 0, can`t work out the erase units\n");
    return false;
}

bool Erase_By_Dies(const Setup_struct* s) {
    return s->cmd_chip_erase == 0 && s->record.die_erase != 0 && s->addr4_mode != ADDR4_OPCODES;
}

bool Range_Inside_Chip(const Setup_struct* s, unsigned long first, unsigned long end) {
    if (first < end && end <= s->total_size) return true;
    // Addresses past the end wrap to the chip's start on the wire: never erase or program there.
    printf("\nError: range 0x%lX..0x%lX is outside the chip (0x%lX Bytes)\n", first,
           end > first ? end - 1 : first, static_cast<unsigned long>(s->total_size));
    return false;
}
