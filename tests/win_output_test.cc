// Standard output's writes on Windows (tool/win/output.cc), built into this
// test with GetConsoleMode, WriteConsoleW and WriteFile routed to the three
// below: the output is a console when `console` says so, and each write
// takes at most `most` UTF-16 units or bytes, and keeps them. A console
// write of more than `room` units fails for want of memory.
#include "output.h"
#include "printer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace {

bool console;
DWORD most, room = MAXDWORD;
int calls;
std::wstring on_console;
std::vector<std::wstring> console_calls; // what each console write took
std::string in_file;

// A write that goes nowhere for too long fails as a bad handle, so that a
// loop without end ends.
template <class Char>
BOOL take(std::basic_string<Char> &kept, const void *text, DWORD n, LPDWORD done)
{
	if (++calls > 1000) {
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
	if (n > room) {
		SetLastError(ERROR_NOT_ENOUGH_MEMORY);
		return FALSE;
	}
	std::wstring took;
	BOOL ok = take(took, text, n, done);
	on_console += took;
	console_calls.push_back(took);
	return ok;
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

// Lines of text beyond ASCII, characters outside the BMP among them, in
// UTF-8 and in UTF-16, bytes long at least.
void lines(std::size_t bytes, std::string *text, std::wstring *wide)
{
	for (int i = 0; text->size() < bytes; i++) {
		*text += "line " + std::to_string(i) + " \xf0\x9f\x98\x80 caf\xc3\xa9\r\n";
		*wide += L"line " + std::to_wstring(i) + L" \U0001F600 caf\u00e9\r\n";
	}
}

// A console without room for a batch's units takes them in smaller calls,
// each of whole lines, so no surrogate pair is split; text longer than any
// batch gets there too. Nothing is lost.
TEST(WindowsOutput, ConsoleWithoutRoomTakesWholeLinesInSmallerCallsAndAnyLength)
{
	for (DWORD limit : {DWORD(3000), DWORD(MAXDWORD)}) {
		SCOPED_TRACE(limit);
		std::string text;
		std::wstring wide;
		lines(limit == MAXDWORD ? 3 * batch_text_max : batch_text_max / 2, &text, &wide);
		std::FILE *out = std::fopen("NUL", "wb");
		ASSERT_NE(out, nullptr);
		console = true;
		most = MAXDWORD;
		room = limit;
		calls = 0;
		on_console.clear();
		console_calls.clear();
		EXPECT_EQ(output_write(out, text.data(), text.size()), 0);
		std::fclose(out);
		EXPECT_TRUE(on_console == wide) << on_console.size() << " units of " << wide.size();
		if (limit == MAXDWORD)
			continue;
		EXPECT_GT(console_calls.size(), 2u);
		for (const std::wstring &call : console_calls)
			EXPECT_EQ(call.back(), L'\n');
	}
	room = MAXDWORD;
}

// Text longer than a batch is converted a batch at a time, cut before a
// character: here a 4-byte one that the cut would fall in after 1, 2 or 3
// of its bytes reaches the console whole.
TEST(WindowsOutput, ConsoleTextLongerThanABatchIsCutBetweenCharacters)
{
	for (std::size_t into : {1, 2, 3}) {
		SCOPED_TRACE(into);
		std::string text;
		std::wstring wide;
		while (text.size() + 200 <= batch_text_max) {
			text += std::string(98, 'x') + "\r\n";
			wide += std::wstring(98, L'x') + L"\r\n";
		}
		std::size_t pad = batch_text_max - text.size() - into;
		text += std::string(pad, 'y') + "\xf0\x9f\x98\x80\r\n";
		wide += std::wstring(pad, L'y') + L"\U0001F600\r\n";
		std::FILE *out = std::fopen("NUL", "wb");
		ASSERT_NE(out, nullptr);
		console = true;
		most = MAXDWORD;
		calls = 0;
		on_console.clear();
		EXPECT_EQ(output_write(out, text.data(), text.size()), 0);
		std::fclose(out);
		EXPECT_TRUE(on_console == wide) << on_console.size() << " units of " << wide.size();
	}
}

} // namespace
