// The journal: bytes outside a range whose erase unit is about to be erased, kept on disk
// (synced, file and folder) before the erase frame goes out, so that a power cut, a pulled
// cable or a killed process cannot lose them. One file per run in $XDG_STATE_HOME/tamrel/
// (~/.local/state/tamrel/ when unset); removed only once the bytes read back from the chip.
#pragma once

#include <string>
#include <vector>

#include "run/setup.h"

struct JournalBlock {
    unsigned long addr;
    std::vector<unsigned char> data;
};

struct Journal {
    std::string chip;   // "0xMMDDDD", the maker and device id
    std::string name;   // the record's name, for the user
    std::string cable;  // switches that choose the run's cable again; empty: the default one
    std::vector<JournalBlock> blocks;
};

// "0xMMDDDD" of the chip the run works on.
std::string Journal_Chip_Id(const Setup_struct* s);

// Creates this run's journal and syncs it; *path names it. -1 after an "Error:" line.
int Journal_Write(const Journal& j, std::string* path);
// True, after an "Error:" line, when a running tamrel still holds the journal at `path`.
bool Journal_In_Use(const std::string& path);
// Reads a journal and checks its checksums; -1 after an "Error:" line naming `path`.
int Journal_Read(const std::string& path, Journal* j);
// Removes a journal and syncs its folder; -1 after an "Error:" line.
int Journal_Remove(const std::string& path);

// "0x00001000-0x0000107F, 0x00002000-0x00002FFF": the journal's blocks, for messages.
std::string Journal_Ranges(const Journal& j);

// Tells of every journal left in the journal folder, with the command that puts its bytes
// back; prints nothing when there is none. A journal whose run is still at work (on another
// cable) is not one left.
void Journal_Notice();
