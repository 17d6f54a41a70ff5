// Console helpers shared by every subsystem.
#pragma once

#include <string>

#include "run/progress.h"

// Maintainer contact printed in the banner and in the undefined-situation report.
extern const char* const TAMREL_CONTACT;

// Colour hook around error messages; output is plain text, so it does nothing.
void SetColor(int fg, int bg);

// On a terminal, routes standard output through a writer that keeps every line readable
// (see Print_Progress); piped or redirected, the output stays exactly as printed.
void Console_Start();
bool Console_Is_Terminal();

// Prints one progress line, a line that the next one of its series overwrites ("\r").
// `series` names the kind of line (its label). Piped or redirected, `format` as given; on a
// terminal the step's figures from `count` instead (run/progress.h).
void Print_Progress(const char* series, const ProgressCount& count, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Writes a progress line of `series` to the terminal. A line of another series, or other
// text, is never overwritten: a newline ends it first.
void Console_Progress(const char* series, const std::string& text);

// Formatted diagnostic output, flushed at once.
int _trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
