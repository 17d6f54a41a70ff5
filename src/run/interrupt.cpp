#include "run/interrupt.h"

#include <csignal>

namespace {
volatile sig_atomic_t g_signal = 0;

extern "C" void on_signal(int sig) {
    g_signal = sig;
}
}  // namespace

void Interrupt_Install() {
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool Interrupt_Pending() {
    return g_signal != 0;
}
int Interrupt_Signal() {
    return g_signal;
}
void Interrupt_Clear() {
    g_signal = 0;
}
