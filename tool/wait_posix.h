// The pause's one wait on POSIX systems, on the keyboard and on standard
// output's reader. The build chooses how: on Linux with epoll
// (wait_epoll.cc), where what is watched stays registered from one wait to
// the next, so that a quiet cycle asks the terminal nothing; elsewhere with
// ppoll (wait_ppoll.cc, wait_plain.cc).
#ifndef MSGPOLL_WAIT_POSIX_H
#define MSGPOLL_WAIT_POSIX_H

#include <csignal>
#include <cstdint>

enum {
	wait_key = 1,      // the keyboard has input
	wait_key_gone = 2, // the keyboard hung up, or cannot be watched
	wait_out_gone = 4, // standard output's reader has gone
	wait_cut_short = 8, // a signal came, or the wait failed
};

// Waits up to ms, with the signal mask mask, for input on keyboard and for
// the reader of out to go; -1 for either is not watched. Returns the
// wait_ bits of what came: 0 only when the time ran out in full.
int wait_events(int keyboard, int out, int64_t ms, const sigset_t *mask);

// The same with one ppoll, which hooks into what it watches anew each time;
// the epoll wait falls back on it when the system has no room for a set.
int ppoll_events(int keyboard, int out, int64_t ms, const sigset_t *mask);

#endif
