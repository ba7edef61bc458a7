// The stand-in's trace source on Windows: a file, read in binary mode and
// followed as it grows.
#include <cstdio>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "feed.h"

int source_open(const char *path, bool *is_file)
{
	int fd = _open(path, _O_RDONLY | _O_BINARY);
	struct _stati64 st;
	*is_file = fd >= 0 && _fstati64(fd, &st) == 0 && (st.st_mode & _S_IFREG);
	return fd;
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
		_lseeki64(fd, 0, SEEK_CUR);
	return n;
}

long long source_seek_size(int fd, uint64_t)
{
	struct _stati64 st;
	return _fstati64(fd, &st) == 0 && (st.st_mode & _S_IFREG) ? st.st_size : -1;
}

void source_rewind(int fd)
{
	_lseeki64(fd, 0, SEEK_SET);
}

void source_close(int fd)
{
	_close(fd);
}

uint64_t clock_ms()
{
	return GetTickCount64();
}
