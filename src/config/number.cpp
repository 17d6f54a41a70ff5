#include "config/number.h"

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
