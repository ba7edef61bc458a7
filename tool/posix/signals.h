// The signals on POSIX systems: every one that ends msgpoll, and the two of
// job control. Their handlers only record, but where msgpoll must end or
// stop: there they discard the rest of a paste and put the mode back first.
#ifndef MSGPOLL_SIGNALS_H
#define MSGPOLL_SIGNALS_H

#include <csignal>

// Catches the signals (those not ignored by whoever started msgpoll).
// SIGCONT is blocked from here on but inside the pause's waits.
void signals_catch();

// Puts back the signals' actions and mask as signals_catch found them.
void signals_release();

// Whether msgpoll was continued after a stop since the last call.
bool signals_continued();

// The signal mask for the pause's waits: the one msgpoll was started with.
const sigset_t *signals_wait_mask();

#endif
