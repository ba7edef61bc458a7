// The console layer on POSIX systems: keys from the controlling terminal
// (/dev/tty), pauses with poll or nanosleep.
//
// While msgpoll runs in the terminal's foreground the terminal is in
// non-canonical mode without echo, so keys are taken as they are typed and
// never land in the trace text on screen. Signals, output processing and
// flow control stay as they were. The mode msgpoll found is put back on
// every way out: console_close for the ordinary ones, signal handlers for
// the signals that end or stop the process.
#include "console.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

#include "keyqueue.h"
#include "keyseq.h"

enum {
	// How long the rest of a key's bytes may take once its first byte is
	// here.
	rest_of_key_ms = 50,
	// How often a pause made in the background looks for the foreground.
	background_look_ms = 250,
};

static int keyboard_fd = -1;     // /dev/tty; -1 when there is no terminal
static termios found_mode;       // the mode to put back
static volatile sig_atomic_t mode_taken; // the terminal is in msgpoll's mode
static key_reader reader;        // a key press whose bytes are coming in
static key_queue keys;           // key presses taken but not used yet
static bool looked_just_now;     // the pause ended watching a quiet keyboard

// The signals that end the process, then the two of job control.
static const int caught[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE,
			     SIGTSTP, SIGCONT};
enum { caught_count = sizeof caught / sizeof caught[0] };
static struct sigaction found_actions[caught_count];
static bool installed[caught_count];

// Everything below that touches the terminal's mode is async-signal-safe:
// the signal handlers call it too.
static bool in_foreground()
{
	return tcgetpgrp(keyboard_fd) == getpgrp();
}

// A background process must not touch the terminal: it would be stopped.
static void take_mode()
{
	if (mode_taken || !in_foreground() ||
	    tcgetattr(keyboard_fd, &found_mode) != 0)
		return;
	termios raw = found_mode;
	raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
	raw.c_cc[VMIN] = 1;
	raw.c_cc[VTIME] = 0;
	// Marked first, so that a signal that comes in between puts the found
	// mode back rather than leave msgpoll's. TCSANOW keeps what was typed
	// so far: a 'q' typed before the start counts.
	mode_taken = 1;
	if (tcsetattr(keyboard_fd, TCSANOW, &raw) != 0)
		mode_taken = 0;
}

static void give_mode_back()
{
	if (!mode_taken)
		return;
	tcsetattr(keyboard_fd, TCSANOW, &found_mode);
	mode_taken = 0;
}

// Put the mode back, then end by the same signal with its default action,
// so that the exit status still names it. The signal raised here is held
// until the handler returns.
static void on_exit_signal(int sig)
{
	give_mode_back();
	signal(sig, SIG_DFL);
	raise(sig);
}

static void on_continue(int)
{
	int saved = errno;
	take_mode();
	errno = saved;
}

static void catch_signal(int sig, void (*handler)(int))
{
	struct sigaction a = {};
	a.sa_handler = handler;
	sigemptyset(&a.sa_mask);
	for (int other : caught)
		sigaddset(&a.sa_mask, other);
	// Interrupted writes go on; poll and nanosleep return all the same.
	a.sa_flags = SA_RESTART;
	sigaction(sig, &a, nullptr);
}

// Ctrl-Z: put the mode back and stop; once continued, take the terminal
// again if msgpoll is in the foreground.
static void on_stop(int)
{
	int saved = errno;
	give_mode_back();
	signal(SIGTSTP, SIG_DFL);
	raise(SIGTSTP);
	sigset_t stop;
	sigemptyset(&stop);
	sigaddset(&stop, SIGTSTP);
	sigprocmask(SIG_UNBLOCK, &stop, nullptr); // stopped here
	catch_signal(SIGTSTP, on_stop);
	take_mode();
	errno = saved;
}

static void hold_signals(sigset_t *held)
{
	sigset_t ours;
	sigemptyset(&ours);
	for (int sig : caught)
		sigaddset(&ours, sig);
	sigprocmask(SIG_BLOCK, &ours, held);
}

void console_open()
{
	keyboard_fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
	if (keyboard_fd < 0)
		return;

	sigset_t held;
	hold_signals(&held);
	for (int i = 0; i < caught_count; i++) {
		sigaction(caught[i], nullptr, &found_actions[i]);
		// A signal ignored by whoever started msgpoll stays ignored.
		if (found_actions[i].sa_handler == SIG_IGN && caught[i] != SIGCONT)
			continue;
		catch_signal(caught[i], caught[i] == SIGTSTP   ? on_stop
					: caught[i] == SIGCONT ? on_continue
							       : on_exit_signal);
		installed[i] = true;
	}
	take_mode();
	sigprocmask(SIG_SETMASK, &held, nullptr);
}

void console_close()
{
	if (keyboard_fd < 0)
		return;
	sigset_t held;
	hold_signals(&held);
	give_mode_back();
	for (int i = 0; i < caught_count; i++)
		if (installed[i])
			sigaction(caught[i], &found_actions[i], nullptr);
	sigprocmask(SIG_SETMASK, &held, nullptr);
	close(keyboard_fd);
	keyboard_fd = -1;
}

// The keyboard may be read: there is a terminal and msgpoll is in its
// foreground (brought there, it takes the terminal's mode first). Holding
// the mode means being in the foreground: leaving it goes through SIGTSTP,
// which gives the mode back. So an idle cycle asks the terminal nothing.
static bool keyboard_ready()
{
	if (keyboard_fd < 0)
		return false;
	if (mode_taken)
		return true;
	if (!in_foreground())
		return false;
	sigset_t held;
	hold_signals(&held);
	take_mode();
	sigprocmask(SIG_SETMASK, &held, nullptr);
	return true;
}

// Waits up to wait_ms for bytes from the keyboard; true when some are
// there. A terminal that hung up is given up, so that waits still wait.
static bool keyboard_readable(int wait_ms)
{
	pollfd p = {keyboard_fd, POLLIN, 0};
	if (poll(&p, 1, wait_ms) != 1)
		return false;
	if (p.revents & POLLIN)
		return true;
	console_close();
	return false;
}

// Feeds one byte to the key being read; a key it ends or completes goes to
// the end of the queue. A byte that ends a key begins the next one.
static void decode(unsigned char byte)
{
	key_step step;
	do {
		step = key_feed(&reader, byte);
		if (step != key_more)
			key_queue_put(&keys, reader.code);
	} while (step == key_ended);
}

// Takes the bytes typed so far into the key queue, and the rest of a key
// whose first bytes came, but none after a quit key: whatever is typed
// after it is the next program's to read. So bytes are read one at a time.
static void take_typed_keys()
{
	if (!in_foreground()) // reading would stop msgpoll (SIGTTIN)
		return;
	while (!key_queue_has_quit(&keys) &&
	       keyboard_readable(reader.stage ? rest_of_key_ms : 0)) {
		unsigned char byte;
		ssize_t n = read(keyboard_fd, &byte, 1);
		if (n <= 0) {
			if (n == 0 || (errno != EAGAIN && errno != EINTR))
				console_close();
			break;
		}
		decode(byte);
	}
	if (reader.stage) // its remaining bytes never came
		key_queue_put(&keys, key_cut_short(&reader));
}

bool console_key_waiting()
{
	// A pause that ended watching the keyboard has just seen all there is:
	// a key typed since is one typed during the read, and counts next cycle.
	if (keys.count == 0 && !looked_just_now && keyboard_ready())
		take_typed_keys();
	looked_just_now = false;
	return keys.count > 0;
}

int console_read_key()
{
	int code;
	return key_queue_take(&keys, &code) ? code : int(key_without_char);
}

bool console_is_terminal(std::FILE *stream)
{
	return isatty(fileno(stream)) == 1;
}

static uint64_t now_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

// A signal may end a wait early; the pause then waits for what is left.
void console_pause(uint32_t ms)
{
	// nanosleep(0) would still cost a timer's slack on every cycle.
	if (ms == 0) {
		sched_yield();
		return;
	}
	uint64_t deadline = now_ms() + ms;
	for (uint64_t left = ms; left > 0 && !key_queue_has_quit(&keys);) {
		int wait = left > INT_MAX ? INT_MAX : int(left);
		looked_just_now = false;
		if (keyboard_ready()) {
			if (keyboard_readable(wait))
				take_typed_keys();
			else
				looked_just_now = true;
		} else {
			// In the background, look now and then whether a
			// shell's fg has given msgpoll the terminal.
			if (keyboard_fd >= 0 && wait > background_look_ms)
				wait = background_look_ms;
			timespec t = {time_t(wait / 1000), long(wait % 1000) * 1000000L};
			nanosleep(&t, nullptr);
		}
		uint64_t now = now_ms();
		left = now < deadline ? deadline - now : 0;
	}
}
