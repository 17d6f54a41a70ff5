// The stages from a parsed request to the decision to power the chip up, as the run driver
// runs them, with what each promises checked; any broken promise traps.
#pragma once

#include "recording_chip.h"

void Check(bool ok);

// Identification (by the id the chip answers, or by -n=) and the parameter check. Neither
// may leave the cable powered, the check sends nothing, an accepted request is one the
// operations can carry out inside the chip, and requests for the same bytes, or for fewer
// of them, get the same answer. The result of the parameter check, or 0 when
// identification refused.
int Check_Stages(CTAMREL& pgm, RecordingChip& chip);

// A fresh setup record whose key files are served from memory (memory_files.h).
void Setup_For_Fuzzing(Setup_struct* s, CTAMREL* pgm);
