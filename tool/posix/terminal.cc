// The controlling terminal on POSIX systems: its mode and paste marks, the
// flush of its input and the waits for it, and the clock its input is timed
// by. msgpoll notes what it changes in the mode and puts back only that, so
// two programs that share a terminal leave it as they found it; it takes
// the mode again whenever it may have lost it, and in the background it
// sets nothing and writes nothing.
#include "terminal.h"

#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "platform.h"

static int tty = -1;

// What msgpoll changed in the terminal's mode, to put back. Read and
// written with every signal blocked, as the handlers read it.
static volatile sig_atomic_t mode_is_ours; // msgpoll's mode is in force
static tcflag_t flags_cleared; // the local flags msgpoll cleared
static bool cc_changed;        // VMIN and VTIME were found otherwise
static cc_t found_vmin, found_vtime;

// SIGTTOU too: a change of the mode never stops msgpoll. From the background
// one succeeds all the same; only the look at the foreground keeps msgpoll
// off the shell's mode.
void block_signals(sigset_t *old)
{
	sigset_t all;
	sigfillset(&all);
	sigprocmask(SIG_BLOCK, &all, old);
}

static bool in_foreground()
{
	return tcgetpgrp(tty) == getpgrp();
}

// A request to the terminal, made in the foreground. One that it cannot
// take at once is not worth a wait.
static bool ask(const char (&request)[9])
{
	return write(tty, request, sizeof request - 1) == sizeof request - 1;
}

// From the background it touches nothing: there the mode is the shell's.
void terminal_restore_mode()
{
	sigset_t old;
	block_signals(&old);
	termios m;
	if (mode_is_ours && in_foreground()) {
		ask("\x1b[?2004l");
		if ((flags_cleared || cc_changed) && tcgetattr(tty, &m) == 0) {
			m.c_lflag |= flags_cleared;
			if (cc_changed) {
				m.c_cc[VMIN] = found_vmin;
				m.c_cc[VTIME] = found_vtime;
			}
			tcsetattr(tty, TCSANOW, &m);
		}
	}
	mode_is_ours = 0;
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
		flags_cleared = 0;
		cc_changed = false;
	}
	tcflag_t on = m.c_lflag & tcflag_t(ICANON | ECHO);
	bool cc = m.c_cc[VMIN] != 1 || m.c_cc[VTIME] != 0;
	if (cc && !cc_changed) {
		found_vmin = m.c_cc[VMIN];
		found_vtime = m.c_cc[VTIME];
		cc_changed = true;
	}
	flags_cleared |= on;
	mode_is_ours = 1;
	ask("\x1b[?2004h");
	if (!on && !cc)
		return;
	m.c_lflag &= ~on;
	m.c_cc[VMIN] = 1;
	m.c_cc[VTIME] = 0;
	tcsetattr(tty, TCSANOW, &m);
}

void terminal_open()
{
	tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

void terminal_give_up()
{
	mode_is_ours = 0;
	if (tty >= 0)
		close(tty);
	tty = -1;
}

// In the foreground msgpoll takes the mode (again: a shell may have reset
// it during a stop); in the background it sets none. The signals are
// blocked from the look to the change, for the reason given at the flush.
static void take_mode_in_foreground()
{
	sigset_t old;
	block_signals(&old);
	bool foreground = in_foreground();
	if (foreground)
		set_mode();
	else
		mode_is_ours = 0;
	sigprocmask(SIG_SETMASK, &old, nullptr);
	if (!foreground && tcgetpgrp(tty) < 0)
		terminal_give_up(); // hung up
}

int terminal_claim_keyboard(bool continued)
{
	if (tty >= 0 && (continued || !mode_is_ours))
		take_mode_in_foreground();
	return mode_is_ours ? tty : -1;
}

bool terminal_present()
{
	return tty >= 0;
}

void terminal_close()
{
	terminal_restore_mode();
	terminal_give_up();
}

// No signal may come between the look at the foreground and the flush:
// stopped there and continued in the background, msgpoll would flush what
// was typed for the shell. No test hits a gap of microseconds; the block
// keeps it shut.
bool platform_flush_input()
{
	sigset_t old;
	block_signals(&old);
	bool ours = mode_is_ours && in_foreground() && tcflush(tty, TCIFLUSH) == 0;
	sigprocmask(SIG_SETMASK, &old, nullptr);
	return ours;
}

int64_t platform_now_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool platform_input_within(int64_t ms)
{
	pollfd p = {tty, POLLIN, 0};
	return poll(&p, 1, int(ms)) == 1 && (p.revents & POLLIN);
}
