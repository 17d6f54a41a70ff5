// Range rules shared by the operations that erase or program erase units.
#pragma once

#include "run/setup.h"

// Each prints a one-line "Error:" refusal and returns false when the check fails.
bool Erase_Size_Usable(const Setup_struct* s);
bool Range_Inside_Chip(const Setup_struct* s, unsigned long first, unsigned long end);

// True when a whole-chip erase goes die by die: the record has a die erase (diers=) and the
// chip takes its address as the other commands do. Die erase has no 4-byte opcode, so a chip
// driven with 4-byte opcodes, in its 3-byte mode, is erased unit by unit instead.
bool Erase_By_Dies(const Setup_struct* s);
