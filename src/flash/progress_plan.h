// Typical times of the flash work, for the time left that a terminal shows (run/progress.h).
#pragma once

#include "run/setup.h"

// A chip erase, typically: 1 s per MiB, as the emulated chip takes it (the records carry no
// figure of their own).
double Typical_Chip_Erase_s(const Setup_struct* s);

// The steps of the program sequence ahead (erase, write, verify, as asked) and their typical
// times on the cable in use.
void Progress_Plan_Sequence(const Setup_struct* s);
