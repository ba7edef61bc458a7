// The console layer's rules, the same on every platform: the pause, which
// waits for the rest of a key begun, the keys it gathered, and the end of
// a run. Each platform gives the waits, the clock and the flush.
#include "console.h"

#include "keys.h"
#include "platform.h"
#include "typed.h"

static bool quit_read; // the poller read a quit key

void console_begin_run(std::FILE *out)
{
	platform_open(out);
	const char *what_failed;
	console_pause(0, &what_failed); // a failure shows at the first pause
}

void console_end_run()
{
	if (quit_read || typed_in_paste(platform_now_ms()))
		discard_input();
	platform_close();
}

bool console_key_waiting()
{
	return typed_key_waiting();
}

int console_read_key()
{
	int code = typed_take_key();
	quit_read = quit_read || is_quit_key(code);
	return code;
}

// Where the pause ends: at its deadline; while a key is begun, when its
// rest is due instead, sooner or later, and the key is then cut short.
static int64_t pause_end(int64_t deadline)
{
	return typed_key_begun() ? typed_rest_due() : deadline;
}

int console_pause(uint32_t ms, const char **what_failed)
{
	int64_t now = platform_now_ms();
	int64_t deadline = now + (typed_quit_waiting() ? 0 : int64_t(ms));
	int64_t until = pause_end(deadline);
	do {
		if (int errnum = platform_wait(until > now ? until - now : 0, what_failed))
			return errnum;
		now = platform_now_ms();
		typed_cut_overdue_key(now);
		until = pause_end(deadline);
	} while (!typed_quit_waiting() && now < until);
	return 0;
}
