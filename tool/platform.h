// What each platform gives the console layer's shared code, console.cc and
// discard.cc; all of it but platform_open, platform_close and
// platform_wait async-signal-safe, for the platform's handlers.
#ifndef MSGPOLL_PLATFORM_H
#define MSGPOLL_PLATFORM_H

#include <cstdint>
#include <cstdio>

// console_begin_run's and console_end_run's own part, but the keys.
void platform_open(std::FILE *out);
void platform_close();

// Milliseconds on a clock that only goes forward.
int64_t platform_now_ms();

// One wait of ms milliseconds at most, which ends early when keys come and
// hands them to typed.h. Returns 0, or as console_pause does.
int platform_wait(int64_t ms, const char **what_failed);

// Discards the console's input waiting now; false where msgpoll has none
// of its own (no console, a terminal whose mode msgpoll does not hold).
bool platform_flush_input();

// Whether input comes within ms milliseconds.
bool platform_input_within(int64_t ms);

// The shared code's own, for the platform's handlers too: discards the
// console's input, and what streams in behind it without a gap of
// burst_gap_ms, for at most burst_cap_ms.
void discard_input();

#endif
