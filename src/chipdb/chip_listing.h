// The known chips: the records of the flash_db.cfg files a run searches, in their order,
// each with its ids, its size and the file it comes from.
#pragma once

#include <string>

class CTAMREL;

// Lists the records whose name holds `filter` regardless of case (every record for ""), under
// a line naming each file. 1; -1 when a file cannot be read (said) or the scan was interrupted.
int Chip_Listing(CTAMREL* pgm, const std::string& filter);
