// Standard output's writes on Windows (tool/win/output.cc), built into this
// test with GetConsoleMode, WriteConsoleW and WriteFile routed to the three
// below: the output is a console when `console` says so, and each write
// takes at most `most` UTF-16 units or bytes, and keeps them.
#include "console.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

bool console;
DWORD most;
int calls;
std::wstring on_console;
std::string in_file;

// A write that goes nowhere for too long fails as a bad handle, so that a
// loop without end ends.
template <class Char>
BOOL take(std::basic_string<Char> &kept, const void *text, DWORD n, LPDWORD done)
{
	if (++calls > 100) {
		SetLastError(ERROR_INVALID_HANDLE);
		return FALSE;
	}
	*done = std::min(n, most);
	kept.append(static_cast<const Char *>(text), *done);
	return TRUE;
}

} // namespace

extern "C" BOOL WINAPI console_mode_of(HANDLE, LPDWORD mode)
{
	*mode = 0;
	return console;
}

extern "C" BOOL WINAPI short_console_write(HANDLE, const VOID *text, DWORD n, LPDWORD done, LPVOID)
{
	return take(on_console, text, n, done);
}

extern "C" BOOL WINAPI short_file_write(HANDLE, LPCVOID data, DWORD n, LPDWORD done, LPOVERLAPPED)
{
	return take(in_file, data, n, done);
}

namespace {

// A write that takes part of the text is followed by one for the rest, from
// where it stopped, on the console (in UTF-16) as to a file; one that takes
// nothing is a failure.
TEST(WindowsOutput, ShortWritesGoOnWhereTheyStoppedAndEmptyOnesFail)
{
	const std::string text = "caf\xc3\xa9 \xe2\x82\xac 1\r\nna\xc3\xafve 2\r\n";
	const std::wstring wide = L"caf\u00e9 \u20ac 1\r\nna\u00efve 2\r\n";
	const struct {
		bool console;
		DWORD most;
		int result;
	} cases[] = {{true, 1000, 0},  {true, 3, 0},  {true, 0, EIO},
		     {false, 1000, 0}, {false, 5, 0}, {false, 0, EIO}};
	for (const auto &c : cases) {
		SCOPED_TRACE((c.console ? "console, at most " : "file, at most ") +
			     std::to_string(c.most));
		std::FILE *out = std::fopen("NUL", "wb");
		ASSERT_NE(out, nullptr);
		console = c.console;
		most = c.most;
		calls = 0;
		on_console.clear();
		in_file.clear();
		EXPECT_EQ(output_write(out, text.data(), text.size()), c.result);
		std::fclose(out);
		if (c.result == 0) {
			EXPECT_EQ(on_console, console ? wide : L"");
			EXPECT_EQ(in_file, console ? "" : text);
		}
	}
}

} // namespace
