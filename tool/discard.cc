// The discard of the input after a quit key, and where msgpoll ends or
// stops by a signal or console event: the rest of a paste, however it is
// cut up on its way, never reaches the next program as commands.
#include "platform.h"
#include "typed.h"

void discard_input()
{
	int64_t began = platform_now_ms();
	for (;;) {
		int64_t wait = typed_burst_wait(began, platform_now_ms());
		if (wait == 0 || !platform_flush_input() || !platform_input_within(wait))
			return;
	}
}
