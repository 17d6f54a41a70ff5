#include "run/console.h"

#include <cstdarg>
#include <cstdio>

const char* const TAMREL_CONTACT = "tamrel-maintainers@example.org";

void SetColor(int, int) {}

void Print_Progress(const char* series, const char* format, ...) {
    (void)series;
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
}

int _trace(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    return fflush(stdout);
}
