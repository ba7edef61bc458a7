// The controlling terminal on POSIX systems: what it is to msgpoll is kept
// in terminal.cc alone. It knows nothing of the signals but to block them.
#ifndef MSGPOLL_TERMINAL_H
#define MSGPOLL_TERMINAL_H

#include <csignal>

// Opens the controlling terminal, if there is one.
void terminal_open();

// Looks where msgpoll stands when that may have changed (after a stop, as
// continued tells, and each time in the background), and in the foreground
// takes the mode. Returns the terminal's descriptor when keys may be read from it now; -1
// without a terminal, after a hang-up, or in the background.
int terminal_claim_keyboard(bool continued);

// Whether msgpoll still has a terminal, in its foreground or not.
bool terminal_present();

// Closes a terminal that hung up: its mode is no longer msgpoll's.
void terminal_give_up();

// Puts back what msgpoll changed in the terminal's mode, where it is in
// force and msgpoll in the foreground. Async-signal-safe.
void terminal_restore_mode();

// Blocks every signal: the mode changes with them blocked, since the
// handlers change it too. *old is the mask before.
void block_signals(sigset_t *old);

// Puts the mode back and closes the terminal.
void terminal_close();

#endif
