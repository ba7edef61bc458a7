#include "output.h"

#include <cerrno>

#include <io.h>
#include <windows.h>

const char output_line_end[] = "\r\n";

static int errno_of(DWORD error)
{
	switch (error) {
	case ERROR_BROKEN_PIPE:
	case ERROR_NO_DATA:
		return EPIPE;
	case ERROR_DISK_FULL:
	case ERROR_HANDLE_DISK_FULL:
		return ENOSPC;
	case ERROR_INVALID_HANDLE:
		return EBADF;
	default:
		return EIO;
	}
}

int output_write(std::FILE *stream, const char *data, std::size_t len)
{
	HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
	if (h == INVALID_HANDLE_VALUE)
		return EBADF;
	while (len > 0) {
		DWORD chunk = len > 0x40000000 ? 0x40000000 : DWORD(len), done = 0;
		if (!WriteFile(h, data, chunk, &done, nullptr))
			return errno_of(GetLastError());
		if (done == 0)
			return EIO;
		data += done;
		len -= done;
	}
	return 0;
}
