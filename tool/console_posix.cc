// Key intake and the pause on POSIX systems: keys from the controlling
// terminal (/dev/tty), read only in the pause's waits, in bulk.
//
// The pause makes one wait on the keyboard, and on standard output
// when that is a pipe or socket, so that a reader that left ends msgpoll
// even while the device is quiet. A quiet foreground cycle asks the
// terminal nothing else: the foreground is looked at anew only after a
// stop, and now and then while msgpoll is in the background.
//
// A quiet cycle is what msgpoll does most of its life, and after each
// pause its code is out of the processor's caches: the functions on its
// way are kept together (hot), here and in the other files, and a wait
// that ran to its end needs no look at the clock.
#include "console.h"

#include <cerrno>
#include <ctime>

#include <sys/stat.h>
#include <unistd.h>

#include "keyqueue.h"
#include "keyseq.h"
#include "terminal_posix.h"
#include "wait_posix.h"

enum {
	// How long the rest of a key's bytes may take once its first byte is
	// here.
	rest_of_key_ms = 50,
	// How often a pause made in the background looks for the foreground.
	background_look_ms = 250,
	// The bytes one read takes, and the reads one wait takes at most:
	// a paste of any size costs a few calls per cycle and delays nothing.
	chunk_size = 4096,
	chunks_per_wake = 16,
};

static int keyboard = -1;   // /dev/tty; -1 when there is none or it hung up
static bool foreground;     // in the terminal's foreground, as last looked
static int watched_out = -1; // standard output when a pipe or socket
static key_reader reader;   // a key press whose bytes are coming in
static key_queue keys;      // key presses gathered but not taken yet

typedef int64_t msec;
static msec rest_due; // when the rest of a key begun must have come

static msec now_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return msec(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

static void hang_up()
{
	terminal_hung_up();
	keyboard = -1;
	foreground = false;
}

// Looks at the foreground anew, and takes the terminal's mode there.
__attribute__((cold)) static void settle()
{
	int where = terminal_settle();
	if (where < 0)
		hang_up();
	foreground = where == 1;
}

// Whether keys may be read now; looks at the foreground when it may have
// changed: after a stop, and while msgpoll is in the background.
static bool keys_readable()
{
	if (keyboard >= 0 && (!foreground || terminal_continued()))
		settle();
	return keyboard >= 0 && foreground;
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

// Reads what was typed, up to a quit key: what follows it in the same
// burst is discarded on the way out.
static void take_typed_keys()
{
	for (int i = 0; i < chunks_per_wake && !key_queue_has_quit(&keys); i++) {
		unsigned char bytes[chunk_size];
		ssize_t n = read(keyboard, bytes, sizeof bytes);
		if (n == 0 || (n < 0 && errno == EIO)) {
			hang_up();
			return;
		}
		if (n < 0)
			return; // EAGAIN: all read; EINTR: the next wait goes on
		for (ssize_t k = 0; k < n && !key_queue_has_quit(&keys); k++)
			decode(bytes[k]);
		if (reader.stage)
			rest_due = now_ms() + rest_of_key_ms;
	}
}

static bool is_pipe_or_socket(int fd)
{
	struct stat st;
	return fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

void console_open(std::FILE *out)
{
	keyboard = terminal_open();
	watched_out = is_pipe_or_socket(fileno(out)) ? fileno(out) : -1;
	if (keys_readable())
		console_pause(0); // the keys typed before the start count
}

void console_close(bool quit)
{
	if (quit)
		terminal_discard_input();
	terminal_close();
	keyboard = -1;
}

__attribute__((hot)) bool console_key_waiting()
{
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

// One wait of the pause, from now up to the time until. Returns -1 when
// standard output's reader has gone, 0 when the wait ran to until, and 1
// when it ended before: something came, or msgpoll in the background
// looks at the foreground again.
static int wait_once(msec until, msec now)
{
	bool keys_now = keys_readable();
	msec wait = until > now ? until - now : 0;
	if (keyboard >= 0 && !keys_now && wait > background_look_ms)
		wait = background_look_ms;

	int came = wait_events(keys_now ? keyboard : -1, watched_out, wait,
			       terminal_wait_mask());
	if (came == 0)
		return wait == until - now ? 0 : 1;
	if (came & wait_out_gone)
		return -1;
	if (came & wait_key)
		take_typed_keys();
	else if (came & wait_key_gone)
		hang_up();
	return 1;
}

__attribute__((hot)) int console_pause(uint32_t ms)
{
	// -s 0 without a keyboard, to a file: nothing to wait for or look at.
	if (ms == 0 && keyboard < 0 && watched_out < 0 && !reader.stage)
		return 0;
	// With a quit key waiting, only a look: the output may have gone.
	msec now = now_ms();
	msec deadline = now + (key_queue_has_quit(&keys) ? 0 : msec(ms));
	do {
		msec until = reader.stage ? rest_due : deadline;
		int came = wait_once(until, now);
		if (came < 0) {
			raise(SIGPIPE); // ends msgpoll as a write would,
			return EPIPE;   // unless SIGPIPE is ignored
		}
		now = came == 0 ? until : now_ms();
		if (reader.stage && (keyboard < 0 || now >= rest_due))
			key_queue_put(&keys, key_cut_short(&reader));
	} while (!key_queue_has_quit(&keys) && (now < deadline || reader.stage));
	return 0;
}
