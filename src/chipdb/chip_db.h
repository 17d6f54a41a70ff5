// The chip database a run searches: the user's flash_db.cfg first, then the installed one
// (config/file_search.h), so that a user's record wins for its name and its id and the
// installed records still serve every other chip.
#pragma once

#include <string>
#include <vector>

class CTAMREL;

// The files in search order; the first is the one a missing database is reported by.
std::vector<std::string> Chip_Db_Files(CTAMREL* pgm);

// The records of `file` one by one, each as the key reader captures it ("\nname=...", its
// newline left to the next): set pgm->key_pos to 0, then call until it answers 0 (no more) or
// -1 (the file could not be read, said by the key reader, or the scan was interrupted).
int Chip_Db_Next(CTAMREL* pgm, const std::string& file, std::string* line);

// A record was taken from `path`: when that is the installed file, one line "Using PATH"
// says so, once a run.
void Chip_Db_Taken_From(CTAMREL* pgm, const std::string& path);

// The record named by -n= or emulate=: the first whose name begins with `name`, the files in
// order; when none does, the first whose name begins with it regardless of case. 1 with the
// record in *line and its file in *path; 0 none; -1 when a file could not be read (said by
// the key reader) or the scan was interrupted.
int Chip_Db_ByName(CTAMREL* pgm, const std::string& name, std::string* line, std::string* path);
