// Range rules shared by the operations that erase or program erase units.
#pragma once

#include "run/setup.h"

// The range that erase and head/tail preservation cover: first address S and the first
// address after it, E. -al= ends it; else a named data file's size; else the chip's end.
void Unit_Range(const Setup_struct* s, unsigned long* first, unsigned long* end);

// A chip erase: no range and no data file named.
bool Erases_Whole_Chip(const Setup_struct* s);

// Bytes a write and a verify take from -ab= (or the chip's start) on: -al= ends the range,
// else the data file's size does; a write with -al= alone takes no more than the file holds.
unsigned long Write_Length(const Setup_struct* s);
unsigned long Verify_Length(const Setup_struct* s);

// Each prints a one-line "Error:" refusal and returns false when the check fails.
bool Erase_Size_Usable(const Setup_struct* s);
bool Range_Inside_Chip(const Setup_struct* s, unsigned long first, unsigned long end);

// True when a whole-chip erase goes die by die: the record has a die erase (diers=) and the
// chip takes its address as the other commands do. Die erase has no 4-byte opcode, so a chip
// driven with 4-byte opcodes, in its 3-byte mode, is erased unit by unit instead.
bool Erase_By_Dies(const Setup_struct* s);
