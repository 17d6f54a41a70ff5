#include "adapters/delay.h"

#include <sys/prctl.h>

struct timespec ts;

namespace {
DelaySink g_sink = nullptr;
void* g_sink_ctx = nullptr;
}  // namespace

void delay_set_sink(DelaySink sink, void* ctx) {
    g_sink = sink;
    g_sink_ctx = ctx;
}

void delay_ms(unsigned int ms) {
    if (ms == 0) return;
    if (g_sink) {
        g_sink(static_cast<unsigned long long>(ms) * 1000000ULL, g_sink_ctx);
        return;
    }
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    nanosleep(&ts, nullptr);
}

void delay_us(unsigned int us) {
    if (us == 0) return;
    if (g_sink) {
        g_sink(static_cast<unsigned long long>(us) * 1000ULL, g_sink_ctx);
        return;
    }
    ts.tv_sec = us / 1000000;  // callers pass at most 255; keep larger counts valid
    ts.tv_nsec = static_cast<long>(us % 1000000) * 1000L;
    nanosleep(&ts, nullptr);
}

void delay_request_min_slack() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}
