// Range rules shared by the operations that erase or program erase units.
#pragma once

#include "run/setup.h"

// Each prints a one-line "Error:" refusal and returns false when the check fails.
bool Erase_Size_Usable(const Setup_struct* s);
bool Range_Inside_Chip(const Setup_struct* s, unsigned long first, unsigned long end);
