// The discard of the input after a quit key, and where msgpoll ends or
// stops by a signal or console event: the rest of a paste, however it is
// cut up on its way, never reaches the next program as commands.
#include "platform.h"
#include "typed.h"

// How long a discard begun at began waits next for more of the burst:
// burst_gap_ms, less near burst_cap_ms; 0 past it.
static int64_t next_wait(int64_t began, int64_t now)
{
	int64_t left = began + burst_cap_ms - now;
	return left <= 0 ? 0 : left < burst_gap_ms ? left : int64_t(burst_gap_ms);
}

void discard_input()
{
	int64_t began = platform_now_ms();
	for (;;) {
		int64_t wait = next_wait(began, platform_now_ms());
		if (wait == 0 || !platform_flush_input() || !platform_input_within(wait))
			return;
	}
}
