// Helpers for the cable tests: stdout capture, sleeps that only count, power sequences.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "adapters/delay.h"
#include "adapters/interface.h"

// Runs f and returns what it printed.
template <class F>
std::string Printed(F f) {
    fflush(stdout);
    testing::internal::CaptureStdout();
    f();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Replaces every sleep by a count of the 1 us ones.
struct NoSleep {
    int us1 = 0;
    NoSleep() { delay_set_sink(&Count, this); }
    ~NoSleep() { delay_set_sink(nullptr, nullptr); }
    static void Count(unsigned long long ns, void* p) {
        static_cast<NoSleep*>(p)->us1 += ns == 1000;
    }
};

// The line sequences the flash layer uses around its work.
inline int Power(CInterface& a, bool on) {
    on ? a.CLR_CPU_RESET() : a.SET_CPU_RESET();
    on ? a.SET_WP_DISABLE() : a.CLR_WP_DISABLE();
    a.SET_CS();
    a.CLR_SCK();
    a.CLR_MOSI();
    return on ? a.ADAPTER_ON() : a.ADAPTER_OFF();
}
