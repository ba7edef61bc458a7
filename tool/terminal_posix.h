// The controlling terminal's mode and the signals, on POSIX systems: the
// part of the console layer that signal handlers share.
#ifndef MSGPOLL_TERMINAL_POSIX_H
#define MSGPOLL_TERMINAL_POSIX_H

#include <csignal>

// Catches the signals that end or stop msgpoll (those not ignored by
// whoever started it) and opens the controlling terminal; returns its
// descriptor, or -1 when there is none. SIGCONT is held from here on but
// inside the pause's waits (see terminal_wait_mask).
int terminal_open();

// Reads where msgpoll stands on the terminal: in its foreground msgpoll
// takes its mode (again: a shell may have reset it during a stop); in the
// background it holds none. Returns 1 in the foreground, 0 in the
// background, -1 when the terminal hung up.
int terminal_settle();

// Tells, once, that msgpoll was continued after a stop since the last
// terminal_settle.
bool terminal_continued();

// The terminal hung up: its mode is no longer msgpoll's to put back.
void terminal_hung_up();

// Input waiting on the terminal is discarded, and the rest of its burst
// (msgpoll in its foreground).
void terminal_discard_input();

// Puts back what msgpoll changed in the mode and the signals' actions, and
// closes the terminal.
void terminal_close();

// The signal mask for the pause's waits: the one msgpoll was started with.
const sigset_t *terminal_wait_mask();

#endif
