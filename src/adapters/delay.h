// Sleeps used by the cables and the flash layer.
#pragma once

#include <ctime>

extern struct timespec ts;

// Whole milliseconds, always slept.
void delay_ms(unsigned int ms);
// Requests below kDelaySpinBelowUs wait on CLOCK_MONOTONIC (a sleep that short lasts several
// times what it asks); longer ones sleep. Never shorter than asked.
void delay_us(unsigned int us);
enum : unsigned { kDelaySpinBelowUs = 100 };

// The clock the delays run on, in nanoseconds, and a wait until it reaches `deadline_ns`.
// With a sink installed they follow the emulated clock.
unsigned long long delay_now_ns();
void delay_until_ns(unsigned long long deadline_ns);

// When set, delays advance this clock sink (nanoseconds) instead of sleeping. The emulated
// target installs one so its runs are fast and repeatable, with `clock` reading its time
// (without one, the time is the sum of the delays asked for).
typedef void (*DelaySink)(unsigned long long ns, void* ctx);
typedef unsigned long long (*DelayClock)(void* ctx);
void delay_set_sink(DelaySink sink, void* ctx, DelayClock clock = nullptr);

// Ask the kernel for the smallest timer slack so the sleeps last close to what they ask.
void delay_request_min_slack();
