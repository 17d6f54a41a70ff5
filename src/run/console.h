// Console helpers shared by every subsystem.
#pragma once

// Maintainer contact printed in the banner and in the undefined-situation report.
extern const char* const TAMREL_CONTACT;

// Colour hook around error messages; output is plain text, so it does nothing.
void SetColor(int fg, int bg);

// On a terminal, routes standard output through a writer that keeps every line readable
// (see Print_Progress); piped or redirected, the output stays exactly as printed.
void Console_Start();

// Prints one progress line, a line that the next one of its series overwrites ("\r").
// `series` names the kind of line (its label), so that the console can tell a line of
// the same series from one of another. On a terminal a line of another series, or other text,
// is never overwritten: a newline ends it first.
void Print_Progress(const char* series, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Formatted diagnostic output, flushed at once.
int _trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
