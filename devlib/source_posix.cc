// The stand-in's trace source on POSIX systems. A FIFO is opened without
// blocking, so the device opens before any writer has come; a writer that
// comes later, or after an earlier one closed, is read all the same.
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include "feed.h"

int source_open(const char *path)
{
	return open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

long source_read(int fd, char *buffer, size_t size, bool *at_end)
{
	for (;;) {
		ssize_t n = read(fd, buffer, size);
		if (n >= 0) {
			*at_end = n == 0;
			return long(n);
		}
		if (errno == EAGAIN || errno == EWOULDBLOCK) {
			*at_end = false;
			return 0;
		}
		if (errno != EINTR)
			return -1;
	}
}

void source_close(int fd)
{
	close(fd);
}
