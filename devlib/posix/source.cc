// The stand-in's trace source on POSIX systems. A FIFO is opened without
// blocking, so the device opens before any writer has come; a writer that
// comes later, or after an earlier one closed, is read all the same.
#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "feed.h"

int source_open(const char *path, bool *is_file)
{
	int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	struct stat st;
	*is_file = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
	return fd;
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

// The size by a seek to the end, which costs a quiet cycle less than a
// stat; the read position goes back to offset when that is not the end.
long long source_seek_size(int fd, uint64_t offset)
{
	off_t size = lseek(fd, 0, SEEK_END);
	if (size >= 0 && uint64_t(size) != offset)
		lseek(fd, off_t(offset), SEEK_SET);
	return size;
}

void source_rewind(int fd)
{
	lseek(fd, 0, SEEK_SET);
}

void source_close(int fd)
{
	close(fd);
}

uint64_t clock_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}
