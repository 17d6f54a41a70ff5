// Console helpers shared by every subsystem.
#pragma once

// Maintainer contact printed in the banner and in the undefined-situation report.
extern const char* const TAMREL_CONTACT;

// Colour hook around error messages; output is plain text, so it does nothing.
void SetColor(int fg, int bg);

// Formatted diagnostic output, flushed at once.
int _trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
