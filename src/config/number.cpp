#include "config/number.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

int Read_Number32(const char* text, long* value) {
    if (text == nullptr) return 0;
    char* end = nullptr;
    long v = strtol(text, &end, 0);  // saturates at the long limits on overflow
    if (end == text) return 0;
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    *value = v;
    return 1;
}

NumberRead Read_Number_In(const char* text, long long min, long long max, long long* value,
                          const char** end) {
    if (text == nullptr) return NUMBER_NONE;
    char* stop = nullptr;
    errno = 0;
    const long long v = strtoll(text, &stop, 0);
    if (stop == text) return NUMBER_NONE;
    if (errno == ERANGE || v < min || v > max) return NUMBER_OUT_OF_RANGE;
    *value = v;
    *end = stop;
    return NUMBER_OK;
}
