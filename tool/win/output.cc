#include "console.h"
#include "poller.h"

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

// The fewest bytes of whole lines a console call is cut down to when the
// console has no room for more: well above the longest line.
enum { console_piece_min = 1024 };

// On a console the lines go out as UTF-16, so that they show as their
// characters whatever the console's code page; the printer made them valid
// UTF-8 there. As few calls as the console takes, each of whole lines.
static int write_console(HANDLE h, const char *data, std::size_t len)
{
	static wchar_t wide[batch_text_max];
	static std::size_t most = batch_text_max; // bytes the console takes at once
	while (len > 0) {
		std::size_t n = len;
		if (n > most)
			for (n = most; n > 1 && data[n - 1] != '\n'; n--)
				;
		int units = MultiByteToWideChar(CP_UTF8, 0, data, int(n), wide, batch_text_max);
		DWORD done = 0;
		if (units > 0 && WriteConsoleW(h, wide, DWORD(units), &done, nullptr)) {
			if (done == 0)
				return EIO;
			data += n;
			len -= n;
		} else if (GetLastError() == ERROR_NOT_ENOUGH_MEMORY && most > console_piece_min) {
			most /= 2;
		} else {
			return errno_of(GetLastError());
		}
	}
	return 0;
}

int output_write(std::FILE *stream, const char *data, std::size_t len)
{
	HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
	if (h == INVALID_HANDLE_VALUE)
		return EBADF;
	DWORD mode;
	if (GetConsoleMode(h, &mode))
		return write_console(h, data, len);
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
