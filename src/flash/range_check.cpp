#include "flash/range_check.h"

#include <cstdio>

void Unit_Range(const Setup_struct* s, unsigned long* first, unsigned long* end) {
    unsigned long S = s->has_addr_begin ? s->addr_begin : 0;
    unsigned long E;
    if (s->has_addr_last)
        E = static_cast<unsigned long>(s->addr_last) + 1;
    else if (s->has_file_name)
        E = S + s->file_size;
    else
        E = s->total_size;
    *first = S;
    *end = E;
}

bool Erases_Whole_Chip(const Setup_struct* s) {
    return !s->has_addr_begin && !s->has_addr_last && !s->has_file_name;
}

unsigned long Write_Length(const Setup_struct* s) {
    const unsigned long fs = s->file_size;
    if (!s->has_addr_last) return fs;
    const unsigned long S = s->has_addr_begin ? s->addr_begin : 0;
    const unsigned long to_last = static_cast<unsigned long>(s->addr_last) + 1 - S;
    return s->has_addr_begin ? to_last : (to_last < fs ? to_last : fs);
}

unsigned long Verify_Length(const Setup_struct* s) {
    if (!s->has_addr_last) return s->file_size;
    const unsigned long S = s->has_addr_begin ? s->addr_begin : 0;
    return static_cast<unsigned long>(s->addr_last) + 1 - S;
}

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
