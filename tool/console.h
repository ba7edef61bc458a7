// The console layer, as the poller calls it: the keyboard of the console
// msgpoll runs in, the pause between reads, and the signals or console
// events that end msgpoll. console.cc holds what is the same on every
// platform; tool/posix/ or tool/win/, chosen by the build, the rest.
#ifndef MSGPOLL_CONSOLE_H
#define MSGPOLL_CONSOLE_H

#include <cstdint>
#include <cstdio>

// Readies the console for the run: catches the signals or console events
// that end msgpoll, takes the terminal's mode where msgpoll is in its
// foreground, and gathers the keys typed before the start. out is where
// the trace lines go.
void console_begin_run(std::FILE *out);

// Puts the console back as console_begin_run found it. After a quit key was
// read, and while pasted text is coming in, it first discards the input's
// burst (discard_input), so that the rest of a paste runs nothing.
void console_end_run();

// Whether a key press was gathered and not yet read. No I/O: keys are
// gathered only in the pause.
bool console_key_waiting();

// Reads the oldest key press gathered: its character code, or a negative
// one for a key without a character (keys.h).
int console_read_key();

// What msgpoll could not do, as its error line names it.
inline const char *const failed_write = "write to standard output";
inline const char *const failed_wait = "wait for the keyboard";

// Pauses for ms milliseconds, 0 included, gathering the keys typed: one
// wait while no key and no signal comes, each of which wakes it. A key
// begun holds it until its rest is due, even past ms; a quit key ends it,
// and with one already waiting it is a mere look. Returns 0, or the errno
// value of what ends the run, with *what_failed set: failed_write and EPIPE
// when the reader of the trace lines has gone (where SIGPIPE does not end
// msgpoll first), failed_wait when a wait failed.
int console_pause(uint32_t ms, const char **what_failed);

// A batch is in hand from just before the device is read until its lines
// are written: a signal or console event that would end msgpoll meanwhile
// waits until console_end_batch (at most batch_cap_ms), so no line the
// device handed over is lost. The platform's own.
void console_begin_batch();
void console_end_batch();
enum { batch_cap_ms = 1000 };

// Whether stream is a terminal (a console on Windows). The platform's own.
bool console_is_terminal(std::FILE *stream);

#endif
