// The pause's wait where there is no epoll: one ppoll each time.
#include "wait_posix.h"

__attribute__((hot)) int wait_events(int keyboard, int out, int64_t ms,
				 const sigset_t *mask)
{
	return ppoll_events(keyboard, out, ms, mask);
}
