// Sleeps used by the cables and the flash layer.
#pragma once

#include <ctime>

extern struct timespec ts;

void delay_ms(unsigned int ms);
void delay_us(unsigned int us);

// When set, delays advance this clock sink (nanoseconds) instead of sleeping.
// The emulated target installs one so its runs are fast and repeatable.
typedef void (*DelaySink)(unsigned long long ns, void* ctx);
void delay_set_sink(DelaySink sink, void* ctx);

// Ask the kernel for the smallest timer slack so 1 us sleeps last about 1 us.
void delay_request_min_slack();
