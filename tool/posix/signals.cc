// A signal that ends msgpoll puts the terminal's mode back and ends it by
// that same signal, so the exit status names it; but while a batch is in
// hand it waits until the batch is written, for at most batch_cap_ms, and
// a second one ends it at once. Ctrl-Z puts the mode back and stops;
// SIGCONT is only recorded, and the pause looks at the terminal again.
#include "signals.h"

#include <cerrno>

#include <unistd.h>

#include "console.h"
#include "terminal.h"

static volatile sig_atomic_t continued;      // a SIGCONT since the last look
static volatile sig_atomic_t in_hand;        // a batch is being read or written
static volatile sig_atomic_t pending_signal; // the ending signal that waits for it

static sigset_t start_mask, wait_mask;

// The signals that end the process, SIGPIPE, the batch's cap, and the two
// of job control.
static const int caught[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,
			     SIGPIPE, SIGALRM, SIGTSTP, SIGCONT};
enum { caught_count = sizeof caught / sizeof caught[0] };
static struct sigaction found_actions[caught_count];

// SIGTTOU too, so that a change of the mode never stops msgpoll. Made from
// the background, such a change succeeds all the same: only the look at
// the foreground before it keeps msgpoll off the mode the shell gave the
// terminal.
void block_signals(sigset_t *old)
{
	sigset_t s;
	sigemptyset(&s);
	for (int sig : caught)
		sigaddset(&s, sig);
	sigaddset(&s, SIGTTOU);
	sigprocmask(SIG_BLOCK, &s, old);
}

// Takes sig's default action now. Called from a handler, sig is blocked until
// it is let through here.
static void act_by_default(int sig)
{
	signal(sig, SIG_DFL);
	raise(sig);
	sigset_t s;
	sigemptyset(&s);
	sigaddset(&s, sig);
	sigprocmask(SIG_UNBLOCK, &s, nullptr);
}

// Puts the mode back and ends by sig, so the exit status names it.
[[noreturn]] static void end_by(int sig)
{
	terminal_restore_mode();
	act_by_default(sig);
	_exit(128 + sig);
}

static void on_signal(int sig);

static void catch_signal(int sig)
{
	struct sigaction a = {};
	a.sa_handler = on_signal;
	sigemptyset(&a.sa_mask);
	for (int other : caught)
		sigaddset(&a.sa_mask, other);
	// Interrupted writes go on; the pause's waits return all the same.
	a.sa_flags = SA_RESTART;
	sigaction(sig, &a, nullptr);
}

static void on_signal(int sig)
{
	int saved = errno;
	switch (sig) {
	case SIGCONT:
		continued = 1;
		break;
	case SIGTSTP: // Ctrl-Z: put the mode back and stop
		terminal_restore_mode();
		act_by_default(SIGTSTP); // stopped here
		catch_signal(SIGTSTP);
		continued = 1;
		break;
	case SIGALRM: // the batch took too long: a reader that stopped reading
		if (pending_signal)
			end_by(pending_signal);
		break;
	default:
		if (sig != SIGPIPE && in_hand && !pending_signal) {
			pending_signal = sig;
			alarm(batch_cap_ms / 1000);
			break;
		}
		end_by(sig == SIGPIPE || !pending_signal ? sig : int(pending_signal)); // a second: at once
	}
	errno = saved;
}

void signals_catch()
{
	sigset_t old;
	block_signals(&old);
	start_mask = old;
	wait_mask = old;
	sigdelset(&wait_mask, SIGCONT);
	for (int i = 0; i < caught_count; i++) {
		int sig = caught[i];
		sigaction(sig, nullptr, &found_actions[i]);
		// A signal ignored by whoever started msgpoll stays ignored;
		// SIGALRM and SIGCONT are msgpoll's own.
		if (found_actions[i].sa_handler != SIG_IGN || sig == SIGALRM ||
		    sig == SIGCONT)
			catch_signal(sig);
	}
	// SIGCONT stays blocked outside the pause's waits, so none is missed.
	sigaddset(&old, SIGCONT);
	sigprocmask(SIG_SETMASK, &old, nullptr);
}

void signals_release()
{
	sigset_t old;
	block_signals(&old);
	alarm(0);
	for (int i = 0; i < caught_count; i++)
		sigaction(caught[i], &found_actions[i], nullptr);
	sigprocmask(SIG_SETMASK, &start_mask, nullptr);
}

bool signals_continued()
{
	bool was = continued;
	continued = 0;
	return was;
}

const sigset_t *signals_wait_mask()
{
	return &wait_mask;
}

void console_begin_batch()
{
	in_hand = 1;
}

// In this order: a signal that comes between the two lines ends msgpoll
// in its handler, one that came before is seen here.
void console_end_batch()
{
	in_hand = 0;
	if (pending_signal)
		end_by(pending_signal);
}
