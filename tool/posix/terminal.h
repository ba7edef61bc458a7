// The controlling terminal and the signals, on POSIX systems: what the
// terminal is to msgpoll (its descriptor, whether msgpoll is in its
// foreground with its mode taken) is kept here alone, beside the signal
// handlers that share it.
#ifndef MSGPOLL_TERMINAL_H
#define MSGPOLL_TERMINAL_H

#include <csignal>
#include <cstdint>

// Catches the signals that end or stop msgpoll (those not ignored by
// whoever started it) and opens the controlling terminal, if there is one.
// SIGCONT is blocked from here on but inside the pause's waits (see
// terminal_wait_mask).
void terminal_open();

// The terminal's descriptor when keys may be read from it now: msgpoll is
// in its foreground and has taken its mode. -1 without a terminal, after a
// hang-up, or in the background. Looks where msgpoll stands only when that
// may have changed: after a stop, and each time while in the background.
int terminal_keyboard();

// Whether msgpoll still has a terminal, in its foreground or not.
bool terminal_present();

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

// Milliseconds on a clock that only goes forward.
int64_t now_ms();

#endif
