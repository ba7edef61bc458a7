// The console layer: the keyboard of the console msgpoll runs in, and the
// pause between reads. One implementation per platform, chosen by the build.
#ifndef MSGPOLL_CONSOLE_H
#define MSGPOLL_CONSOLE_H

#include <cstdint>
#include <cstdio>

// What console_read_key returns for a key press that types no character of
// its own: cursor, function and editing keys, Alt combinations.
enum { key_without_char = -1 };

// Readies the console's keyboard for the run, before the first key check.
// On a POSIX terminal, from here on keys are taken as they are typed and
// never echoed, whenever msgpoll is in the terminal's foreground.
void console_open();

// Puts the console back as console_open found it.
void console_close();

// Tells, without blocking, whether a key press is waiting on the console's
// own keyboard (never standard input). False when there is no console.
bool console_key_waiting();

// Takes the oldest waiting key press and returns its character code or
// key_without_char. Call it only after console_key_waiting said true.
int console_read_key();

// Tells whether stream is a terminal (a console on Windows).
bool console_is_terminal(std::FILE *stream);

// Pauses for ms milliseconds, or until a quit key ('q' or 'Q') is waiting:
// other keys wait, in order, for the key checks to come. 0 yields the
// processor.
void console_pause(uint32_t ms);

#endif
