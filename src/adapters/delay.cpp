#include "adapters/delay.h"

#include <sys/prctl.h>

struct timespec ts;

namespace {
DelaySink g_sink = nullptr;
void* g_sink_ctx = nullptr;
DelayClock g_clock = nullptr;
unsigned long long g_sunk_ns = 0;  // time asked of a sink that has no clock

unsigned long long monotonic_ns() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000000000ULL +
           static_cast<unsigned long long>(now.tv_nsec);
}

void sink(unsigned long long ns) {
    g_sunk_ns += ns;
    g_sink(ns, g_sink_ctx);
}

void spin_until(unsigned long long deadline_ns) {
    while (monotonic_ns() < deadline_ns) {
    }
}
}  // namespace

void delay_set_sink(DelaySink s, void* ctx, DelayClock clock) {
    g_sink = s;
    g_sink_ctx = ctx;
    g_clock = s ? clock : nullptr;
    g_sunk_ns = 0;
}

void delay_ms(unsigned int ms) {
    if (ms == 0) return;
    if (g_sink) return sink(static_cast<unsigned long long>(ms) * 1000000ULL);
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    nanosleep(&ts, nullptr);
}

void delay_us(unsigned int us) {
    if (us == 0) return;
    if (g_sink) return sink(static_cast<unsigned long long>(us) * 1000ULL);
    if (us < kDelaySpinBelowUs) return spin_until(monotonic_ns() + us * 1000ULL);
    ts.tv_sec = us / 1000000;
    ts.tv_nsec = static_cast<long>(us % 1000000) * 1000L;
    nanosleep(&ts, nullptr);
}

unsigned long long delay_now_ns() {
    if (g_clock) return g_clock(g_sink_ctx);
    return g_sink ? g_sunk_ns : monotonic_ns();
}

void delay_until_ns(unsigned long long deadline_ns) {
    const unsigned long long now = delay_now_ns();
    if (now >= deadline_ns) return;
    if (g_sink) return sink(deadline_ns - now);
    spin_until(deadline_ns);  // callers wait microseconds at most
}

void delay_request_min_slack() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}
