// The console layer on POSIX systems: keys from the controlling terminal
// (/dev/tty), pauses with nanosleep.
#include "console.h"

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "keyseq.h"

// How long the rest of a key's bytes may take once its first byte is here.
enum { rest_of_key_ms = 50 };

static int keyboard_fd = -2; // -2 until opened; -1 when there is no terminal
static int held_byte = -1;   // read past the end of the previous key

static int keyboard()
{
	if (keyboard_fd == -2)
		keyboard_fd = open("/dev/tty",
				   O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
	return keyboard_fd;
}

// While msgpoll looks at its keyboard the terminal is in non-canonical mode
// without echo, and signals wait, so that none can end the process before
// the terminal has its own mode back.
struct key_window {
	sigset_t signals;
	termios mode;
};

// Opens the window only when msgpoll is in the terminal's foreground: a
// background job must not touch the terminal, or it would be stopped.
static bool open_window(key_window *w)
{
	int fd = keyboard();
	if (fd < 0)
		return false;

	sigset_t all;
	sigfillset(&all);
	sigprocmask(SIG_BLOCK, &all, &w->signals);
	if (tcgetpgrp(fd) == getpgrp() && tcgetattr(fd, &w->mode) == 0) {
		termios raw = w->mode;
		raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
		raw.c_cc[VMIN] = 0;
		raw.c_cc[VTIME] = 0;
		// TCSANOW: input typed so far stays; a 'q' typed early counts.
		if (tcsetattr(fd, TCSANOW, &raw) == 0)
			return true;
		tcsetattr(fd, TCSANOW, &w->mode);
	}
	sigprocmask(SIG_SETMASK, &w->signals, nullptr);
	return false;
}

static void close_window(key_window *w)
{
	tcsetattr(keyboard_fd, TCSANOW, &w->mode);
	sigprocmask(SIG_SETMASK, &w->signals, nullptr);
}

bool console_key_waiting()
{
	if (held_byte >= 0)
		return true;

	key_window w;
	if (!open_window(&w))
		return false;
	pollfd p = {keyboard_fd, POLLIN, 0};
	bool waiting = poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
	close_window(&w);
	return waiting;
}

// The next byte of the keyboard, waiting at most wait_ms; -1 when none.
static int next_byte(int wait_ms)
{
	if (held_byte >= 0) {
		int b = held_byte;
		held_byte = -1;
		return b;
	}
	pollfd p = {keyboard_fd, POLLIN, 0};
	if (wait_ms > 0 && poll(&p, 1, wait_ms) != 1)
		return -1;
	unsigned char b;
	return read(keyboard_fd, &b, 1) == 1 ? b : -1;
}

int console_read_key()
{
	key_window w;
	bool open = open_window(&w);
	key_reader k = {};
	int code;

	for (int wait = 0;; wait = rest_of_key_ms) {
		int b = open || held_byte >= 0 ? next_byte(wait) : -1;
		if (b < 0) {
			code = key_cut_short(&k);
			break;
		}
		key_step step = key_feed(&k, static_cast<unsigned char>(b));
		if (step == key_more)
			continue;
		if (step == key_ended)
			held_byte = b;
		code = k.code;
		break;
	}
	if (open)
		close_window(&w);
	return code;
}

bool console_is_terminal(std::FILE *stream)
{
	return isatty(fileno(stream)) == 1;
}

void console_sleep(uint32_t ms)
{
	// nanosleep(0) would still cost a timer's slack on every cycle.
	if (ms == 0) {
		sched_yield();
		return;
	}
	timespec left = {time_t(ms / 1000), long(ms % 1000) * 1000000L};
	while (nanosleep(&left, &left) != 0 && errno == EINTR)
		continue;
}
