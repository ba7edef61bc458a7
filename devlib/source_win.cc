// The stand-in's trace source on Windows: a file, read in binary mode and
// followed as it grows.
#include <cstdio>

#include <fcntl.h>
#include <io.h>

#include "feed.h"

int source_open(const char *path)
{
	return _open(path, _O_RDONLY | _O_BINARY);
}

long source_read(int fd, char *buffer, size_t size, bool *at_end)
{
	unsigned chunk = size > 1u << 30 ? 1u << 30 : unsigned(size);
	int n = _read(fd, buffer, chunk);
	if (n < 0)
		return -1;
	*at_end = n == 0;
	// The C runtime remembers the end of file and would read nothing more;
	// a seek where the file stands lets the next read see what was added.
	if (n == 0)
		_lseek(fd, 0, SEEK_CUR);
	return n;
}

void source_close(int fd)
{
	_close(fd);
}
