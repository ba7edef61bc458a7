// Preloaded into msgpoll by a test: faults in its writes to standard output
// and in its waits, as the environment chooses.
//   MSGPOLL_TEST_WRITE=zero            every write to standard output writes
//                                      nothing and reports no error, as
//                                      some broken device might
//   MSGPOLL_TEST_WRITE=eintr_once      the first one is interrupted before
//                                      it writes a byte
//   MSGPOLL_TEST_PPOLL=einval_after_3  every ppoll after the third fails
//                                      with EINVAL
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

static bool chosen(const char *name, const char *fault)
{
	const char *value = std::getenv(name);
	return value && std::strcmp(value, fault) == 0;
}

extern "C" ssize_t write(int fd, const void *data, size_t len)
{
	static bool interrupted;
	if (fd == 1 && len > 0 && chosen("MSGPOLL_TEST_WRITE", "zero"))
		return 0;
	if (fd == 1 && len > 0 && !interrupted && chosen("MSGPOLL_TEST_WRITE", "eintr_once")) {
		interrupted = true;
		errno = EINTR;
		return -1;
	}
	return syscall(SYS_write, fd, data, len);
}

extern "C" int ppoll(pollfd *fds, nfds_t n, const timespec *limit, const sigset_t *mask)
{
	static int calls;
	if (chosen("MSGPOLL_TEST_PPOLL", "einval_after_3") && ++calls > 3) {
		errno = EINVAL;
		return -1;
	}
	timespec left = limit ? *limit : timespec{};
	return int(syscall(SYS_ppoll, fds, n, limit ? &left : nullptr, mask, _NSIG / 8));
}
