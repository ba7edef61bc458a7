// Preloaded into msgpoll by a test: every write to standard output writes
// nothing and reports no error, as some broken device might.
#include <sys/syscall.h>
#include <unistd.h>

extern "C" ssize_t write(int fd, const void *data, size_t len)
{
	return fd == 1 && len > 0 ? 0 : syscall(SYS_write, fd, data, len);
}
