// Helpers for the cable tests: stdout capture and sleeps that only count.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "adapters/delay.h"

inline void BeginCapture() {
    fflush(stdout);
    testing::internal::CaptureStdout();
}

inline std::string EndCapture() {
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Replaces every sleep by a count of 1 us sleeps (other lengths are just skipped).
struct NoSleep {
    int us1 = 0;
    NoSleep() { delay_set_sink(&Count, this); }
    ~NoSleep() { delay_set_sink(nullptr, nullptr); }
    static void Count(unsigned long long ns, void* self) {
        if (ns == 1000) ++static_cast<NoSleep*>(self)->us1;
    }
};
