#include "wait_posix.h"

#include <ctime>

#include <poll.h>

__attribute__((hot)) int ppoll_events(int keyboard, int out, int64_t ms,
				  const sigset_t *mask)
{
	pollfd fds[2];
	nfds_t n = 0;
	if (keyboard >= 0)
		fds[n++] = {keyboard, POLLIN, 0};
	if (out >= 0)
		fds[n++] = {out, 0, 0};
	timespec t = {time_t(ms / 1000), long(ms % 1000) * 1000000L};
	int ready = ppoll(fds, n, &t, mask);
	if (ready <= 0)
		return ready < 0 ? wait_cut_short : 0;
	int came = 0;
	if (out >= 0 && fds[n - 1].revents & (POLLERR | POLLHUP))
		came |= wait_out_gone;
	if (keyboard >= 0 && fds[0].revents & POLLIN)
		came |= wait_key;
	else if (keyboard >= 0 && fds[0].revents)
		came |= wait_key_gone;
	return came;
}
