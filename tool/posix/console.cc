// Key intake and the waits on POSIX systems: keys from the controlling
// terminal (/dev/tty), read only in the pause's waits, in bulk.
//
// Each wait is one ppoll on the keyboard and, when standard output is a
// pipe or socket, on that, so that a reader that left ends msgpoll even
// while the device is quiet. SIGCONT, blocked elsewhere, comes in only
// during the wait, so that none is missed.
#include "console.h"

#include <cerrno>
#include <ctime>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"
#include "signals.h"
#include "terminal.h"
#include "typed.h"

enum {
	// How often a pause made in the background looks for the foreground.
	background_look_ms = 250,
	// The bytes one read takes, and the reads one wake takes at most: a
	// paste of any size is taken at the pace it comes and delays nothing.
	chunk_size = 4096,
	chunks_per_wake = 16,
};

static int watched_out = -1; // standard output when a pipe or socket

static void take_typed_keys(int keyboard)
{
	for (int i = 0; i < chunks_per_wake; i++) {
		unsigned char bytes[chunk_size];
		ssize_t n = read(keyboard, bytes, sizeof bytes);
		if (n == 0 || (n < 0 && errno == EIO)) {
			terminal_give_up();
			return;
		}
		if (n < 0)
			return; // EAGAIN: all read; EINTR: the next wait goes on
		typed_decode(bytes, std::size_t(n), platform_now_ms());
	}
}

static bool is_pipe_or_socket(int fd)
{
	struct stat st;
	return fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

void platform_open(std::FILE *out)
{
	signals_catch();
	terminal_open();
	watched_out = is_pipe_or_socket(fileno(out)) ? fileno(out) : -1;
}

void platform_close()
{
	terminal_close();
	signals_release();
}

bool console_is_terminal(std::FILE *stream)
{
	return isatty(fileno(stream)) == 1;
}

int platform_wait(int64_t ms, const char **what_failed)
{
	int keyboard = terminal_claim_keyboard(signals_continued());
	if (keyboard < 0 && terminal_present() && ms > background_look_ms)
		ms = background_look_ms;

	pollfd fds[2];
	nfds_t n = 0;
	if (keyboard >= 0)
		fds[n++] = {keyboard, POLLIN, 0};
	if (watched_out >= 0)
		fds[n++] = {watched_out, 0, 0};
	timespec t = {time_t(ms / 1000), long(ms % 1000) * 1000000L};
	int ready = ppoll(fds, n, &t, signals_wait_mask());
	if (ready < 0 && errno != EINTR) {
		*what_failed = failed_wait; // it would fail again at once
		return errno;
	}
	if (ready <= 0)
		return 0; // the time ran out, or a signal came
	if (watched_out >= 0 && fds[n - 1].revents & (POLLERR | POLLHUP)) {
		// As after a write: SIGPIPE ends msgpoll, unless it is ignored.
		raise(SIGPIPE);
		*what_failed = failed_write;
		return EPIPE;
	}
	if (keyboard >= 0 && fds[0].revents & POLLIN)
		take_typed_keys(keyboard);
	else if (keyboard >= 0 && fds[0].revents)
		terminal_give_up();
	return 0;
}
