#include "output.h"

#include <cerrno>

#include <poll.h>
#include <unistd.h>

const char output_line_end[] = "\n";

int output_write(std::FILE *stream, const char *data, std::size_t len)
{
	int fd = fileno(stream);
	while (len > 0) {
		ssize_t n = write(fd, data, len);
		if (n > 0) {
			data += n;
			len -= std::size_t(n);
		} else if (n == 0) {
			return EIO; // a write that takes nothing would take nothing again
		} else if (errno == EAGAIN || errno == EWOULDBLOCK) {
			// Another program set the file non-blocking: wait for room.
			pollfd p = {fd, POLLOUT, 0};
			poll(&p, 1, -1);
		} else if (errno != EINTR) {
			return errno;
		}
	}
	return 0;
}
