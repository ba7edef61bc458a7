// The pause's wait on Linux. A ppoll on the terminal looks at it and hooks
// into it anew on every wait, which shows in what an idle msgpoll costs;
// an epoll set keeps the keyboard and standard output registered, and a
// wait that nothing ends looks at neither. The set changes only when what
// is watched does: the keyboard goes out of it in the background and for
// good when it hangs up (closing it took it out of the set already).
#include "wait_posix.h"

#include <climits>

#include <sys/epoll.h>

static int set = -1;           // made at the first wait
static int set_keyboard = -1;  // what the set watches now
static int set_out = -1;

// Makes the set watch fd where it watched *in_set; false when it cannot.
static bool watch(int fd, int *in_set, uint32_t events)
{
	if (fd == *in_set)
		return true;
	if (*in_set >= 0)
		epoll_ctl(set, EPOLL_CTL_DEL, *in_set, nullptr);
	*in_set = -1;
	if (fd < 0)
		return true;
	epoll_event e = {};
	e.events = events;
	e.data.fd = fd;
	if (epoll_ctl(set, EPOLL_CTL_ADD, fd, &e) != 0)
		return false;
	*in_set = fd;
	return true;
}

__attribute__((hot)) int wait_events(int keyboard, int out, int64_t ms,
				 const sigset_t *mask)
{
	if (set < 0)
		set = epoll_create1(EPOLL_CLOEXEC);
	if (set < 0 || !watch(keyboard, &set_keyboard, EPOLLIN) ||
	    !watch(out, &set_out, 0))
		return ppoll_events(keyboard, out, ms, mask);

	epoll_event events[2];
	// A wait longer than epoll takes (24 days) ends early, and says so.
	int n = epoll_pwait(set, events, 2, ms > INT_MAX ? INT_MAX : int(ms), mask);
	if (n < 0 || (n == 0 && ms > INT_MAX))
		return wait_cut_short;
	int came = 0;
	for (int i = 0; i < n; i++) {
		uint32_t e = events[i].events;
		if (events[i].data.fd == set_out && e & (EPOLLERR | EPOLLHUP))
			came |= wait_out_gone;
		else if (events[i].data.fd == set_keyboard)
			came |= e & EPOLLIN ? wait_key : wait_key_gone;
	}
	return came;
}
