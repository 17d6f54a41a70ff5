// Records that stand for parts sharing one id (alternatives): which one a chip's SFDP tables
// confirm, and whether the parts erase the whole chip alike.
#pragma once

#include <vector>

#include "chipdb/chip_record.h"
#include "chipdb/sfdp.h"

// The records the tables confirm, by index: their volime= the table's density, then their
// page= the table's page size (where the table gives one), then every erase size the table
// gives an opcode of their erase=. One left: the part is known.
std::vector<int> Sfdp_Confirms(const std::vector<ChipRecord>& records, const SfdpGeometry& geo);

// True when every record erases the whole chip with the same command (chipers= or diers=),
// so that a whole-chip erase is right whichever part it is.
bool Erase_Whole_Alike(const std::vector<ChipRecord>& records);
