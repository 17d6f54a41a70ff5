// The erase frames of a range, shared by the range erase and the update of changed units.
#pragma once

#include <vector>

#include "flash/range_plan.h"

class CTAMREL;

// The word the progress lines give the unit ("Sector:\t"), from the unit's erase opcode.
void Choose_Erase_Label(CTAMREL* pgm);

// Sends the steps of `plan` over units `u`, each after the chip is ready, with a progress
// line per unit once its erase has gone out; marks the saved head and tail pending when
// their unit is erased. 1 when all went out or an interrupt stopped them (*interrupted),
// -1 when the chip stayed busy, -2 when the cable was lost or a chip erase that kept nothing
// was interrupted.
int Erase_Steps(CTAMREL* pgm, const Units& u, const std::vector<EraseStep>& plan,
                bool* interrupted);

// Programs the saved head and tail back, waits for the chip, and reads them back to remove
// the journal; -1 when any of it failed (what is still pending goes to the rescue files).
int Restore_Kept(CTAMREL* pgm);
