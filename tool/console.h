// What each platform gives msgpoll (tool/posix/, tool/win/, chosen by the
// build): the keyboard of the console msgpoll runs in, the pause between
// reads, the signals or console events that end msgpoll, and standard
// output written a batch at a time.
//
// Keys are read only in the pause (and once at the start); the key check
// between reads takes what the pause gathered and does no I/O.
#ifndef MSGPOLL_CONSOLE_H
#define MSGPOLL_CONSOLE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// What console_read_key returns for a key press that types no character of
// its own: cursor, function and editing keys, Alt combinations.
enum { key_without_char = -1 };

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

// Puts the console back as console_open found it. After a quit key, the
// input that came in the same burst is discarded, so that the rest of a
// paste never reaches the next program as commands.
void console_close(bool quit);

// A batch is in hand from just before the device is read until its lines
// are written: a signal or console event that would end msgpoll meanwhile
// waits until console_end_batch (at most about a second), so no line
// the device handed over is lost.
void console_begin_batch();
void console_end_batch();

// Tells whether a key press was gathered and not yet taken. No I/O.
bool console_key_waiting();

// Takes the oldest gathered key press and returns its character code or
// key_without_char.
int console_read_key();

// Tells whether stream is a terminal (a console on Windows).
bool console_is_terminal(std::FILE *stream);

// What msgpoll could not do, as its error line names it.
inline const char *const failed_write = "write to standard output";
inline const char *const failed_wait = "wait for the keyboard";

// Pauses for ms milliseconds, 0 included, while gathering the keys typed,
// or less once a quit key ('q' or 'Q') is waiting. Returns 0, or the errno
// value of what ends the run, with *what_failed set: failed_write and
// EPIPE when the reader of the trace lines has gone (where SIGPIPE does
// not end msgpoll first), failed_wait when a wait failed.
int console_pause(uint32_t ms, const char **what_failed);

// The platform's text line end: "\n", or "\r\n" on Windows.
extern const char output_line_end[];
enum { output_line_end_max = 2 };

// Writes the len bytes at data to the file beneath stream, bypassing the
// stream's buffer, which must hold nothing. A short write is continued, an
// interrupted one retried; one that writes nothing is a failure. Returns 0,
// or an errno value.
int output_write(std::FILE *stream, const char *data, std::size_t len);

#endif
