// Exit status of a run: 1 for success and 255 for failure, as always, or 0 and 1 for
// scripts when asked (TAMREL_EXIT_CODES=posix, or exit_codes=posix in config.cfg).
#pragma once

#include <string>

enum ExitCodes { EXIT_CODES_UNSET, EXIT_CODES_CLASSIC, EXIT_CODES_POSIX };

// The codes a word names ("classic" or "posix"); EXIT_CODES_UNSET for any other word.
ExitCodes Exit_Codes_Named(const std::string& word);

// The codes TAMREL_EXIT_CODES asks for, EXIT_CODES_UNSET when it is unset or empty; -1 after
// an error line when it names none.
int Exit_Codes_From_Env();

// The process status for a run's result (1 success, anything else failure).
int Exit_Status(int result, ExitCodes codes);
