// The console layer: the keyboard of the console msgpoll runs in, the pause
// between reads, the signals or console events that end msgpoll, and
// standard output written a batch at a time. The pause and the discard of
// the input after a quit key are written once (console.cc, with the keys in
// keys.cc); each platform (tool/posix/, tool/win/, chosen by the build)
// gives what they stand on, below.
//
// Keys are read only in the pause (and once at the start); the key check
// between reads takes what the pause gathered and does no I/O.
#ifndef MSGPOLL_CONSOLE_H
#define MSGPOLL_CONSOLE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The keys that end msgpoll.
inline bool is_quit_key(int code)
{
	return code == 'q' || code == 'Q';
}

// Readies the console for the run: catches the signals or console events
// that end msgpoll, takes the terminal's mode where msgpoll is in its
// foreground, and gathers the keys typed before the start. out is where
// the trace lines go.
void console_open(std::FILE *out);

// Puts the console back as console_open found it. After a quit key, and
// while pasted text is coming in, the input that keeps coming without a gap
// of 50 ms is discarded, for at most a second, so that the rest of a paste
// never reaches the next program as commands.
void console_close(bool quit);

// A batch is in hand from just before the device is read until its lines
// are written: a signal or console event that would end msgpoll meanwhile
// waits until console_end_batch (at most batch_cap_ms), so no line the
// device handed over is lost.
void console_begin_batch();
void console_end_batch();
enum { batch_cap_ms = 1000 };

// Tells whether a key press was gathered and not yet taken. No I/O.
bool console_key_waiting();

// Takes the oldest gathered key press and returns its character code, or
// a negative one for a key without a character (keys.h).
int console_read_key();

// Tells whether stream is a terminal (a console on Windows).
bool console_is_terminal(std::FILE *stream);

// What msgpoll could not do, as its error line names it.
inline const char *const failed_write = "write to standard output";
inline const char *const failed_wait = "wait for the keyboard";

// Pauses for ms milliseconds, 0 included, while gathering the keys typed,
// or less once a quit key ('q' or 'Q') is waiting: with one waiting before
// it starts, the pause is a mere look. Returns 0, or the errno value of
// what ends the run, with *what_failed set: failed_write and EPIPE when the
// reader of the trace lines has gone (where SIGPIPE does not end msgpoll
// first), failed_wait when a wait failed.
int console_pause(uint32_t ms, const char **what_failed);

// The platform's text line end: "\n", or "\r\n" on Windows.
extern const char output_line_end[];
enum { output_line_end_max = 2 };

// Writes the len bytes at data to the file beneath stream, bypassing the
// stream's buffer, which must hold nothing. A short write is continued, an
// interrupted one retried; one that writes nothing is a failure. Returns 0,
// or an errno value.
int output_write(std::FILE *stream, const char *data, std::size_t len);

// Discards the console's input, and what streams in behind it without a
// gap of 50 ms, for at most a second; nothing where msgpoll has no input
// of its own. For the platform's handlers too, which end msgpoll or stop
// it: async-signal-safe.
void console_discard_input();

// What each platform gives console.cc.

// console_open's and console_close's own part, but the keys.
void platform_open(std::FILE *out);
void platform_close();

// Milliseconds on a clock that only goes forward.
int64_t platform_now_ms();

// One wait of ms milliseconds at most, which ends early when keys come and
// decodes them (keys_decode, keys_put). Returns 0, or as console_pause does.
int platform_wait(int64_t ms, const char **what_failed);

// Discards the console's input waiting now; false where msgpoll has none
// of its own (no console, a terminal whose mode msgpoll does not hold).
// Async-signal-safe, as the next two are.
bool platform_flush_input();

// Whether input comes within ms milliseconds.
bool platform_input_within(int64_t ms);

#endif
