// Every signal whose default action ends the process is caught, but one
// left ignored by whoever started msgpoll. Ending by one, msgpoll discards
// the input streaming in behind it (the rest of a paste that held Ctrl-C),
// puts the terminal's mode back and ends by that signal, so the exit status
// names it: a fault at once, by its default action (after a fault nothing
// can be trusted); any other once the batch in hand is written, for at most
// batch_cap_ms, and a second one at once. Ctrl-Z leaves the terminal the
// same way and stops; SIGCONT is only recorded, for the pause to look again.
#include "signals.h"

#include <cerrno>
#include <ctime>

#include <unistd.h>

#include "console.h"
#include "platform.h"
#include "terminal.h"

static volatile sig_atomic_t continued;      // a SIGCONT since the last look
static volatile sig_atomic_t in_hand;        // a batch is being read or written
static volatile sig_atomic_t pending_signal; // the ending signal that waits for it

static sigset_t start_mask, wait_mask;
static struct sigaction found[NSIG]; // the actions as msgpoll found them

// The batch's cap. Its SIGALRM tells itself apart from one sent with kill,
// which is a request to end as any other.
static timer_t cap_timer;
static bool has_cap_timer;

// Every signal whose default action ends the process, and two of job
// control; not those ignored or that stop by default, nor the two that
// cannot be caught.
static bool is_caught(int sig)
{
	switch (sig) {
	case SIGCHLD: case SIGURG: case SIGWINCH: case SIGTTIN: case SIGTTOU:
	case SIGSTOP: case SIGKILL:
		return false;
	}
	return true;
}

static bool is_fault(int sig)
{
	switch (sig) {
	case SIGSEGV: case SIGBUS: case SIGFPE: case SIGILL: case SIGABRT: case SIGTRAP:
	case SIGSYS:
		return true;
	}
	return false;
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

// Where msgpoll holds the terminal: the rest of a paste is discarded while
// echo is still off, then the mode goes back.
static void leave_terminal()
{
	discard_input();
	terminal_restore_mode();
}

// Ends by sig, so the exit status names it; no other signal comes between.
[[noreturn]] static void end_by(int sig)
{
	sigset_t old;
	block_signals(&old);
	leave_terminal();
	act_by_default(sig);
	_exit(128 + sig);
}

static void on_signal(int sig, siginfo_t *info, void *);

static void catch_signal(int sig)
{
	struct sigaction a = {};
	a.sa_sigaction = on_signal;
	sigfillset(&a.sa_mask);
	// Interrupted writes go on; the pause's waits return all the same.
	a.sa_flags = SA_RESTART | SA_SIGINFO;
	sigaction(sig, &a, nullptr);
}

static void wait_for_batch(int sig)
{
	pending_signal = sig;
	itimerspec cap = {};
	cap.it_value.tv_sec = batch_cap_ms / 1000;
	cap.it_value.tv_nsec = long(batch_cap_ms % 1000) * 1000000L;
	timer_settime(cap_timer, 0, &cap, nullptr);
}

static void on_signal(int sig, siginfo_t *info, void *)
{
	int saved = errno;
	if (sig == SIGCONT) {
		continued = 1;
	} else if (sig == SIGTSTP) { // Ctrl-Z: put the mode back and stop
		leave_terminal();
		act_by_default(SIGTSTP); // stopped here
		catch_signal(SIGTSTP);
		continued = 1;
	} else if (sig == SIGALRM && info->si_code == SI_TIMER) {
		if (pending_signal) // the batch took too long: a reader that stopped
			end_by(pending_signal);
	} else if (sig == SIGALRM && found[SIGALRM].sa_handler == SIG_IGN) {
		// left ignored by whoever started msgpoll
	} else if (is_fault(sig) || sig == SIGPIPE) { // nothing to wait for
		end_by(sig);
	} else if (pending_signal) { // a second: at once
		end_by(pending_signal);
	} else if (in_hand && has_cap_timer) {
		wait_for_batch(sig);
	} else {
		end_by(sig);
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
	sigevent at_cap = {};
	at_cap.sigev_notify = SIGEV_SIGNAL;
	at_cap.sigev_signo = SIGALRM;
	has_cap_timer = timer_create(CLOCK_MONOTONIC, &at_cap, &cap_timer) == 0;
	for (int sig = 1; sig < NSIG; sig++) {
		if (sigaction(sig, nullptr, &found[sig]) != 0 || !is_caught(sig))
			continue; // the C library keeps a few signals for itself
		// One that whoever started msgpoll ignored stays ignored; but
		// SIGALRM, for the cap, and SIGCONT are msgpoll's own.
		if (found[sig].sa_handler != SIG_IGN || sig == SIGALRM || sig == SIGCONT)
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
	if (has_cap_timer)
		timer_delete(cap_timer);
	has_cap_timer = false;
	for (int sig = 1; sig < NSIG; sig++)
		sigaction(sig, &found[sig], nullptr); // where it fails, it did before
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
