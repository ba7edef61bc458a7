// The controlling terminal's mode and the signals, on POSIX systems.
//
// In the terminal's foreground msgpoll clears ICANON and ECHO and sets
// VMIN 1 and VTIME 0, so keys are taken as they are typed and never land
// on screen. It notes what it changed and puts back only that, so that two
// programs that shared the terminal leave it as they found it. The mode is
// read from the terminal whenever msgpoll may have lost it: at the start
// and after every stop. In the background msgpoll sets no mode at all.
//
// A signal that ends msgpoll puts the mode back and ends it by that same
// signal, so the exit status names it; but while a batch is in hand it
// waits until the batch is written, for at most batch_cap_seconds, and a
// second one ends it at once. Ctrl-Z puts the mode back and stops; SIGCONT
// is only recorded, and the pause looks at the terminal again.
#include "terminal.h"

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "console.h"

enum {
	batch_cap_seconds = 1,
	// Input that comes with gaps shorter than this is one burst.
	burst_gap_ms = 50,
	burst_cap_ms = 1000,
};

static int tty = -1;

// What msgpoll changed in the terminal's mode, to put back. Written with
// the signals blocked; the handlers read it.
static volatile sig_atomic_t mode_is_ours; // msgpoll's mode is in force
static tcflag_t cleared;   // the local flags msgpoll cleared
static bool cc_changed;    // VMIN and VTIME were found otherwise
static cc_t found_vmin, found_vtime;

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

// Blocks the signals whose handlers read the mode, and SIGTTOU, so that a
// change of the mode never stops msgpoll. Made from the background, such a
// change succeeds all the same: only the look at the foreground before it
// keeps msgpoll off the mode the shell gave the terminal.
static void block_signals(sigset_t *old)
{
	sigset_t s;
	sigemptyset(&s);
	for (int sig : caught)
		sigaddset(&s, sig);
	sigaddset(&s, SIGTTOU);
	sigprocmask(SIG_BLOCK, &s, old);
}

static bool in_foreground()
{
	return tcgetpgrp(tty) == getpgrp();
}

// Async-signal-safe: the handlers call it. From the background it touches
// nothing: there the mode is the shell's.
static void restore_mode()
{
	if (!mode_is_ours)
		return;
	mode_is_ours = 0;
	sigset_t old;
	block_signals(&old);
	termios m;
	if ((cleared || cc_changed) && in_foreground() && tcgetattr(tty, &m) == 0) {
		m.c_lflag |= cleared;
		if (cc_changed) {
			m.c_cc[VMIN] = found_vmin;
			m.c_cc[VTIME] = found_vtime;
		}
		tcsetattr(tty, TCSANOW, &m);
	}
	sigprocmask(SIG_SETMASK, &old, nullptr);
}

// With the signals blocked, in the foreground. TCSANOW keeps what was typed
// so far: a 'q' typed before the start counts.
static void set_mode()
{
	termios m;
	if (tcgetattr(tty, &m) != 0)
		return;
	if (!mode_is_ours) {
		cleared = 0;
		cc_changed = false;
	}
	tcflag_t on = m.c_lflag & tcflag_t(ICANON | ECHO);
	bool cc = m.c_cc[VMIN] != 1 || m.c_cc[VTIME] != 0;
	if (cc && !cc_changed) {
		found_vmin = m.c_cc[VMIN];
		found_vtime = m.c_cc[VTIME];
		cc_changed = true;
	}
	cleared |= on;
	mode_is_ours = 1;
	if (!on && !cc)
		return;
	m.c_lflag &= ~on;
	m.c_cc[VMIN] = 1;
	m.c_cc[VTIME] = 0;
	tcsetattr(tty, TCSANOW, &m);
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
	restore_mode();
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
		restore_mode();
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
			alarm(batch_cap_seconds);
			break;
		}
		end_by(sig == SIGPIPE || !pending_signal ? sig : int(pending_signal)); // a second: at once
	}
	errno = saved;
}

void terminal_open()
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
	tty = open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
	// SIGCONT stays blocked outside the pause's waits, so none is missed.
	sigaddset(&old, SIGCONT);
	sigprocmask(SIG_SETMASK, &old, nullptr);
}

void terminal_hung_up()
{
	mode_is_ours = 0;
	if (tty >= 0)
		close(tty);
	tty = -1;
}

// Looks where msgpoll stands: in the foreground it takes the mode (again: a
// shell may have reset it during a stop); in the background it sets none.
static void recheck_foreground()
{
	continued = 0;
	sigset_t old;
	block_signals(&old);
	pid_t group = tcgetpgrp(tty);
	if (group == getpgrp())
		set_mode();
	else
		mode_is_ours = 0;
	sigprocmask(SIG_SETMASK, &old, nullptr);
	if (group < 0)
		terminal_hung_up();
}

int terminal_keyboard()
{
	if (tty >= 0 && (!mode_is_ours || continued))
		recheck_foreground();
	return mode_is_ours ? tty : -1;
}

bool terminal_present()
{
	return tty >= 0;
}

int64_t now_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// What is waiting, and what streams in behind it with gaps shorter than
// burst_gap_ms (the rest of a paste, however the terminal cuts it up), for
// at most burst_cap_ms, both on the clock.
void terminal_discard_input()
{
	sigset_t old;
	block_signals(&old);
	pollfd p = {tty, POLLIN, 0};
	int64_t end = now_ms() + burst_cap_ms, left = burst_cap_ms;
	while (tty >= 0 && in_foreground() && left > 0) {
		tcflush(tty, TCIFLUSH);
		int gap = left < int64_t(burst_gap_ms) ? int(left) : int(burst_gap_ms);
		if (poll(&p, 1, gap) != 1 || !(p.revents & POLLIN))
			break;
		left = end - now_ms();
	}
	sigprocmask(SIG_SETMASK, &old, nullptr);
}

void terminal_close()
{
	sigset_t old;
	block_signals(&old);
	alarm(0);
	restore_mode();
	for (int i = 0; i < caught_count; i++)
		sigaction(caught[i], &found_actions[i], nullptr);
	if (tty >= 0)
		close(tty);
	tty = -1;
	sigprocmask(SIG_SETMASK, &start_mask, nullptr);
}

const sigset_t *terminal_wait_mask()
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
