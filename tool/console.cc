// The console layer's rules, the same on every platform: the pause, which
// waits for the rest of a key begun, and the discard of the input after a
// quit key. Each platform gives the waits, the clock and the flush.
#include "console.h"

#include "keys.h"

enum {
	// Input that comes with gaps shorter than this is one burst.
	burst_gap_ms = 50,
	burst_cap_ms = 1000,
};

void console_open(std::FILE *out)
{
	platform_open(out);
	const char *what_failed;
	console_pause(0, &what_failed); // a failure shows at the first pause
}

// What is waiting, and what streams in behind it with gaps shorter than
// burst_gap_ms (the rest of a paste, however it is cut up on its way), for
// at most burst_cap_ms.
void console_discard_input()
{
	int64_t end = platform_now_ms() + burst_cap_ms;
	for (int64_t left = burst_cap_ms; left > 0 && platform_flush_input();
	     left = end - platform_now_ms()) {
		if (!platform_input_within(left < burst_gap_ms ? left : int64_t(burst_gap_ms)))
			break;
	}
}

void console_close(bool quit)
{
	if (quit || keys_in_paste(platform_now_ms()))
		console_discard_input();
	platform_close();
}

// The pause waits until its deadline; while a key is begun, until its rest
// is due instead, sooner or later, and then cuts the key short.
int console_pause(uint32_t ms, const char **what_failed)
{
	int64_t now = platform_now_ms();
	int64_t deadline = now + (keys_have_quit() ? 0 : int64_t(ms));
	int64_t until = keys_rest_due_or(deadline);
	do {
		if (int errnum = platform_wait(until > now ? until - now : 0, what_failed))
			return errnum;
		now = platform_now_ms();
		keys_cut_overdue(now);
		until = keys_rest_due_or(deadline);
	} while (!keys_have_quit() && now < until);
	return 0;
}
