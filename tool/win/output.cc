#include "output.h"
#include "printer.h"

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

// The fewest UTF-16 units of whole lines a console call is cut down to when
// the console has no room for more: well above the longest line.
enum { console_piece_min = 1024 };

// As few calls as the console takes, each of whole lines; a call that
// writes part of its units is followed by one for the rest.
static int write_units(HANDLE h, const wchar_t *wide, DWORD units)
{
	static DWORD most = batch_text_max; // units the console takes at once
	for (DWORD at = 0, done; at < units; at += done) {
		DWORD n = units - at;
		if (n > most)
			for (n = most; n > 1 && wide[at + n - 1] != L'\n'; n--)
				;
		done = 0;
		if (WriteConsoleW(h, wide + at, n, &done, nullptr)) {
			if (done == 0)
				return EIO;
		} else if (GetLastError() == ERROR_NOT_ENOUGH_MEMORY && most > console_piece_min) {
			most /= 2;
		} else {
			return errno_of(GetLastError());
		}
	}
	return 0;
}

// On a console the lines go out as UTF-16, so that they show as their
// characters whatever the console's code page; the printer made them valid
// UTF-8 there. They are converted batch_text_max bytes at most at a time,
// which make no more units, cut before a character, not in it.
static int write_console(HANDLE h, const char *data, std::size_t len)
{
	static wchar_t wide[batch_text_max];
	while (len > 0) {
		std::size_t n = len;
		if (n > batch_text_max)
			for (n = batch_text_max; n > batch_text_max - 3 && (data[n] & 0xc0) == 0x80; n--)
				;
		int units = MultiByteToWideChar(CP_UTF8, 0, data, int(n), wide, batch_text_max);
		if (units <= 0)
			return errno_of(GetLastError());
		if (int errnum = write_units(h, wide, DWORD(units)))
			return errnum;
		data += n;
		len -= n;
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
