// msgpoll.exe as Windows users run it, in this test's console, its keys
// typed there as input events: the quit keys and the pause, in both input
// modes; what the console shows (control bytes, UTF-8, row for row); one
// batch, one write to a pipe; device failures; pastes and the discard after
// 'q'; a reader that leaves; Ctrl-C after the batch in hand.
#include "win_e2e_harness.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace win_e2e {
namespace {

// In the console's normal input mode, Escape and 'q' in one burst are two
// keys, and the 'q' quits (read as a terminal's bytes, they would be Alt+q).
TEST(Windows, QuitKeysCloseTheDevice)
{
	for (const std::vector<key> &keys : {std::vector<key>{q}, {shifted_q}, {escape, q}}) {
		run r = start("-s 20");
		ASSERT_TRUE(shows_prompt(r));
		type(keys);
		EXPECT_EQ(finish(r), 0u);
		EXPECT_EQ(slurp(r.err_path), prompt);
	}
}

TEST(Windows, QuitKeyTypedBeforeTheStartEndsBeforeAnyRead)
{
	type({q});
	options o;
	o.fault = "read@1=5";
	run r = start("", o);
	EXPECT_EQ(finish(r), 0u);
	EXPECT_EQ(slurp(r.out_path), "");
}

// 'q' ends the pause at once; an 'x' before it still costs one more read.
TEST(Windows, QuitKeyCutsThePauseShortAfterOneKeyPerCycle)
{
	options o;
	o.source = temp_file("lines", "a\n");
	for (bool x_first : {false, true}) {
		std::ofstream(o.source, std::ios::binary) << "a\n";
		run r = start("-s 60000", o);
		ASSERT_TRUE(becomes(r.out_path, "a\r\n"));
		std::ofstream(o.source, std::ios::binary | std::ios::app) << "b\n";
		if (x_first)
			type({x, q});
		else
			type({q});
		EXPECT_TRUE(ended(r, 1000)) << "x first: " << x_first;
		EXPECT_EQ(finish(r), 0u);
		EXPECT_EQ(slurp(r.out_path), x_first ? "a\r\nb\r\n" : "a\r\n");
	}
}

// The CPU time the run has taken so far, in 100-nanosecond units.
ULONGLONG cpu_time(const run &r)
{
	FILETIME created, exited, kernel, user;
	if (!GetProcessTimes(r.process.hProcess, &created, &exited, &kernel, &user))
		return 0;
	return (ULONGLONG(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
	       (ULONGLONG(user.dwHighDateTime) << 32 | user.dwLowDateTime);
}

// The longest pauses wait as long as they say: none is cut short or turned
// into no wait, and they cost next to no CPU time.
TEST(Windows, LongestPausesWaitAsLongAsTheySay)
{
	for (const char *sleeplen : {"3000000000", "-1"}) {
		SCOPED_TRACE(sleeplen);
		options o;
		o.fault = "read@2=9";
		run r = start(std::string("-s ") + sleeplen, o);
		ASSERT_TRUE(shows_prompt(r));
		ULONGLONG before = cpu_time(r);
		EXPECT_FALSE(ended(r, 1000));
		EXPECT_LT(cpu_time(r) - before, 1000000u) << "spins";
		type({q});
		EXPECT_EQ(finish(r), 0u);
	}
}

// The console's characters, row after row, and its rows' width; with
// clear, blanked first, the cursor at its top left corner.
std::wstring screen(bool clear = false, std::size_t *width = nullptr)
{
	HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
				 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
				 OPEN_EXISTING, 0, nullptr);
	CONSOLE_SCREEN_BUFFER_INFO info = {};
	GetConsoleScreenBufferInfo(out, &info);
	if (width)
		*width = std::size_t(info.dwSize.X);
	std::wstring text(DWORD(info.dwSize.X) * DWORD(info.dwSize.Y), L' ');
	DWORD n = 0;
	if (clear && FillConsoleOutputCharacterW(out, L' ', DWORD(text.size()), {0, 0}, &n))
		SetConsoleCursorPosition(out, {0, 0});
	ReadConsoleOutputCharacterW(out, &text[0], DWORD(text.size()), {0, 0}, &n);
	CloseHandle(out);
	text.resize(n);
	return text;
}

// Starts msgpoll with standard output on a blank console and the line text
// (UTF-8) as its source; true when the console shows shown within ten
// seconds. msgpoll is then ended with 'q'.
bool console_shows(const std::string &text, const std::wstring &shown)
{
	screen(true);
	options o;
	o.source = temp_file("console", text + "\n");
	o.to_console = true;
	run r = start("-s 20", o);
	bool seen = false;
	for (DWORD t = GetTickCount(); !seen && GetTickCount() - t < 10000; Sleep(5))
		seen = screen().find(shown) != std::wstring::npos;
	type({q});
	EXPECT_EQ(finish(r), 0u);
	if (!seen) {
		std::wstring all = screen();
		ADD_FAILURE() << "the console shows:\n" << all.erase(all.find_last_not_of(L' ') + 1);
	}
	return seen;
}

TEST(Windows, ControlBytesAreShownOnTheConsole)
{
	EXPECT_TRUE(console_shows("red \x1b[31m\x7f\x01 end", L"red \\x1b[31m\\x7f\\x01 end"));
}

// The lines go to the console as characters, not as bytes in its code page:
// here 437, where UTF-8's bytes would show as other characters.
TEST(Windows, Utf8ShowsAsItsCharactersWhateverTheCodePage)
{
	UINT code_page = GetConsoleOutputCP();
	ASSERT_TRUE(SetConsoleOutputCP(437));
	EXPECT_TRUE(console_shows("caf\xc3\xa9 costs 5 \xe2\x82\xac", L"caf\u00e9 costs 5 \u20ac"));
	SetConsoleOutputCP(code_page);
}

// Waits, ten seconds at most, until the console's top rows show lines, one
// a row, padded with blanks, and a blank row after them.
bool rows_show(std::vector<std::wstring> lines)
{
	std::size_t width = 0;
	screen(false, &width);
	std::wstring rows;
	lines.push_back(L"");
	for (const std::wstring &line : lines)
		rows += line + std::wstring(width - std::min(width, line.size()), L' ');
	for (DWORD t = GetTickCount(); GetTickCount() - t < 10000; Sleep(5))
		if (screen().compare(0, rows.size(), rows) == 0)
			return true;
	std::wstring all = screen();
	ADD_FAILURE() << "the console shows:\n" << all.erase(all.find_last_not_of(L' ') + 1);
	return false;
}

// Two batches of text beyond ASCII, read apart, the second shorter: each
// character shows in its place, row for row, and nothing else.
TEST(Windows, BatchesShowRowForRow)
{
	screen(true);
	options o;
	o.source = temp_file("rows", "caf\xc3\xa9 \xe2\x82\xac 1\n"
				     "na\xc3\xafve \xe2\x82\xac\xe2\x82\xac 2\n");
	o.to_console = true;
	run r = start("-s 20", o);
	const std::wstring first = L"caf\u00e9 \u20ac 1", second = L"na\u00efve \u20ac\u20ac 2";
	if (rows_show({first, second})) {
		std::ofstream(o.source, std::ios::binary | std::ios::app) << "\xe2\x82\xac 3\n\xc3\xa9\n";
		rows_show({first, second, L"\u20ac 3", L"\u00e9"});
	}
	type({q});
	EXPECT_EQ(finish(r), 0u);
}

void type_shift_alone()
{
	type({{0, VK_SHIFT, 0x2a, SHIFT_PRESSED}});
}

TEST(Windows, KeysWithoutCharacterAndStandardInputDoNotQuit)
{
	options o;
	o.input = temp_file("input", "q\r\nQ\r\n");
	run r = start("-s 10", o);
	ASSERT_TRUE(shows_prompt(r));
	type({page_down, f2, up, alt_q});
	type_shift_alone();
	EXPECT_FALSE(ended(r, 700));
	type({q});
	EXPECT_EQ(finish(r), 0u);
}

// Keys as a console in virtual-terminal input mode types them: one key
// press for each character of what a terminal would send.
std::vector<key> spelled(const std::wstring &text)
{
	std::vector<key> keys;
	for (wchar_t c : text)
		keys.push_back({c, 0, 0, 0});
	return keys;
}

// In that mode, which msgpoll leaves as it is, F2, Page Down, Ctrl+F2 and
// Alt+q, also in their 8-bit forms, never quit, nor does a 'q' in a paste
// between a terminal's marks. Escape alone is a key of its own, cut at its
// 50 ms in a pause of a minute too: a 'q' typed a moment after it quits, as
// a 'q' alone does.
TEST(Windows, VirtualTerminalInputIsDecodedAsTerminalBytes)
{
	HANDLE console = keyboard();
	DWORD mode = 0;
	ASSERT_TRUE(GetConsoleMode(console, &mode));
	ASSERT_TRUE(SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_INPUT));
	for (bool escape_first : {false, true}) {
		run r = start("-s 60000");
		EXPECT_TRUE(shows_prompt(r));
		type(spelled(L"\x1bOQ\x1b[6~\x1b[1;5Q\x1bq\x8fQ\x9b" L"6~\x1b[200~xq\r\x1b[201~"));
		type({alt_q});
		EXPECT_FALSE(ended(r, 700)) << "escape first: " << escape_first;
		if (escape_first) {
			type(spelled(L"\x1b"));
			Sleep(300);
		}
		type({q});
		EXPECT_TRUE(ended(r, 1000)) << "escape first: " << escape_first;
		EXPECT_EQ(finish(r), 0u);
	}
	SetConsoleMode(console, mode);
	CloseHandle(console);
}

TEST(Windows, WithoutConsoleNoKeyIsSeen)
{
	type({q});
	options o;
	o.fault = "read@30=9";
	o.flags = DETACHED_PROCESS;
	run r = start("-s 10", o);
	EXPECT_EQ(finish(r), 1u);
}

TEST(Windows, WrongCommandLinePrintsUsageWithCrLf)
{
	run r = start("-s500");
	EXPECT_EQ(finish(r), 1u);
	EXPECT_EQ(slurp(r.out_path),
		  "msgpoll is a console application that reads the trace "
		  "messages\r\n"
		  "from the Harlen device driver and prints them to standard "
		  "out.\r\n\r\n"
		  "usage:\r\n\t\tmsgpoll [-s <sleeplen>]\r\n\r\n"
		  "Where sleeplen is the number of milliseconds to sleep "
		  "between\r\n"
		  "reads of trace messages.\r\nTo quit the application press "
		  "'q'.\r\n\r\n");
}

TEST(Windows, DeviceFailuresEndWithStatusOne)
{
	options o;
	o.fault = "open=21";
	run on_open = start("", o);
	EXPECT_EQ(finish(on_open), 1u);
	EXPECT_EQ(slurp(on_open.err_path), "hl_open: status 21 (injected fault)\r\n");

	// Read numbers past 32 bits are counted as such, not cut to 1.
	o.fault = "read@4294967297=5, read@3=22";
	run on_read = start("-s 0", o);
	EXPECT_EQ(finish(on_read), 1u);
	EXPECT_EQ(slurp(on_read.err_path),
		  prompt + "Could not get trace data from device: status 22 "
			   "(injected fault)\r\n");

	type({q});
	o.fault = "close=23";
	run on_close = start("", o);
	EXPECT_EQ(finish(on_close), 1u);
	EXPECT_EQ(slurp(on_close.err_path),
		  prompt + "hl_close: status 23 (injected fault)\r\n");
}

// A batch of 500 lines reaches a pipe in one write: the first read of a
// reader that waits there gets all of it, CR LF line ends included.
TEST(Windows, OneBatchIsOneWrite)
{
	std::string lines, want;
	for (int i = 0; i < 500; i++) {
		std::string line = std::to_string(100000 + i) + std::string(54, '.');
		lines += line + "\n";
		want += line + "\r\n";
	}
	HANDLE ends[2];
	ASSERT_TRUE(make_pipe(ends, 1 << 20));
	options o;
	o.fault = "read@end=1";
	o.source = temp_file("batch", lines);
	o.output = ends[1];
	run r = start("-s 0", o);
	std::string first(1 << 20, '\0');
	DWORD n = 0;
	EXPECT_TRUE(ReadFile(ends[0], &first[0], DWORD(first.size()), &n, nullptr));
	first.resize(n);
	EXPECT_EQ(finish(r), 1u);
	CloseHandle(ends[0]);
	EXPECT_EQ(first.size(), want.size());
	EXPECT_EQ(first, want);
}

// A paste of 5,000 characters with a 'q' at its end, and more after it:
// msgpoll quits within a second, and the console's input is left empty.
TEST(Windows, LargePasteQuitsAtItsQAndLeavesNothing)
{
	run r = start("-s 200");
	ASSERT_TRUE(shows_prompt(r));
	std::vector<key> paste(5000, x);
	paste.push_back(q);
	for (int i = 0; i < 20; i++)
		paste.push_back(x);
	DWORD typed = GetTickCount();
	type(paste);
	EXPECT_TRUE(ended(r, 5000));
	EXPECT_LT(GetTickCount() - typed, 1000u);
	EXPECT_EQ(events_waiting(), 0u);
	EXPECT_EQ(finish(r), 0u);
}

// Types a paste passed on in pieces, as a pseudo-console passes it on: a
// line, then 20 keys every 20 ms for ms milliseconds, then waits until 300
// ms after its end.
void type_paste_in_pieces(std::vector<key> line, DWORD ms)
{
	type(line);
	for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(20))
		type(std::vector<key>(20, x));
	Sleep(300);
}

// After the 'q' at the start of a paste passed on in pieces msgpoll
// discards the input until it has been quiet for 50 ms: nothing of a paste
// of 300 ms is left for the next program, but a key typed 300 ms after it
// is. The input of a paste that goes on for 3 s is discarded for a second.
TEST(Windows, RestOfAPasteAfterTheQuitKeyIsDiscardedForASecondAtMost)
{
	for (DWORD paste_ms : {300, 3000}) {
		SCOPED_TRACE(paste_ms);
		run r = start("-s 200");
		ASSERT_TRUE(shows_prompt(r));
		std::vector<key> line(30, x);
		line.insert(line.begin(), q);
		DWORD typed = GetTickCount();
		std::thread paste(type_paste_in_pieces, line, paste_ms);
		if (paste_ms > 1000) {
			EXPECT_TRUE(ended(r, 5000));
			EXPECT_LT(GetTickCount() - typed, 1500u);
			paste.join();
		} else {
			paste.join();
			type({shifted_q});
			EXPECT_TRUE(ended(r, 5000));
			EXPECT_EQ(events_waiting(), 2u)
				<< "the key typed after the paste is its press and release";
		}
		EXPECT_EQ(finish(r), 0u);
	}
}

// A pipe whose reader left while the device is quiet ends msgpoll at its
// next pause, as a write would.
TEST(Windows, ReaderLeavingAPipeEndsAQuietRun)
{
	HANDLE ends[2];
	ASSERT_TRUE(make_pipe(ends, 0));
	options o;
	o.source = temp_file("one", "one\n");
	o.output = ends[1];
	run r = start("-s 200", o);
	EXPECT_EQ(read_pipe(ends[0], 5), "one\r\n");
	CloseHandle(ends[0]);
	DWORD closed = GetTickCount();
	EXPECT_TRUE(ended(r, 10000));
	EXPECT_LT(GetTickCount() - closed, 1000u);
	EXPECT_EQ(finish(r), 1u);
	EXPECT_EQ(slurp(r.err_path),
		  prompt + "msgpoll: cannot write to standard output: Broken pipe\r\n");
}

BOOL WINAPI ignore_control(DWORD)
{
	return TRUE;
}

// Whether a Ctrl-C on this console leaves alive the processes it reaches,
// this test among them. Not where Wine runs under QEMU's user-mode emulator
// (Linux hands it this build's programs through binfmt_misc): they crash on
// it. This test may crash there on gtest's report of a skip too, so the
// Ctrl-C tests there only print that they did not run.
bool ctrl_c_is_survived()
{
	std::string emulator = sizeof(void *) == 4 ? "qemu-i386" : "qemu-x86_64";
	if (slurp("Z:\\proc\\sys\\fs\\binfmt_misc\\" + emulator).rfind("enabled", 0) != 0)
		return true;
	std::printf("Not run: Wine runs under %s here, and Ctrl-C crashes it.\n", emulator.c_str());
	return false;
}

// A file of the lines "line 0" to "line 399999".
const std::string &numbered_lines()
{
	static std::string path;
	if (path.empty()) {
		std::string lines;
		for (int i = 0; i < 400000; i++)
			lines += "line " + std::to_string(i) + "\n";
		path = temp_file("many", lines);
	}
	return path;
}

// out holds those lines from the first on, as msgpoll writes them, and ends
// on a whole one.
void expect_numbered_lines(const std::string &out)
{
	ASSERT_FALSE(out.empty());
	EXPECT_EQ(out.back(), '\n');
	for (std::size_t at = 0, i = 0; at < out.size(); i++) {
		std::string line = "line " + std::to_string(i) + "\r\n";
		ASSERT_EQ(out.compare(at, line.size(), line), 0) << "at byte " << at;
		at += line.size();
	}
}

// Ctrl-C in the middle of a copy at -s 0, at five moments: msgpoll ends as
// the default handling would, but only after the batch in hand, so the file
// ends on a whole line and holds the source's lines from the first on.
TEST(Windows, CtrlCEndsAfterTheBatchInHand)
{
	if (!ctrl_c_is_survived())
		return;
	SetConsoleCtrlHandler(ignore_control, TRUE); // this test goes on
	options o;
	o.source = numbered_lines();
	for (std::size_t after : {1000, 20000, 50000, 120000, 300000}) {
		SCOPED_TRACE(after);
		run r = start("-s 0", o);
		ASSERT_TRUE(shows_prompt(r));
		for (DWORD t = GetTickCount();
		     slurp(r.out_path).size() < after && GetTickCount() - t < 10000;)
			Sleep(0);
		if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) || !ended(r, 5000)) {
			TerminateProcess(r.process.hProcess, 255);
			finish(r);
			GTEST_SKIP() << "this console does not deliver Ctrl-C";
		}
		EXPECT_EQ(finish(r), DWORD(STATUS_CONTROL_C_EXIT));
		expect_numbered_lines(slurp(r.out_path));
	}
	SetConsoleCtrlHandler(ignore_control, FALSE);
}

// Ctrl-C in the middle of a paste passed on in pieces, as a pseudo-console
// passes on one that holds it: msgpoll ends as interrupted, and discards
// the rest of the paste first; a key typed 300 ms after it is left.
TEST(Windows, CtrlCInAPasteLeavesNothingOfIt)
{
	if (!ctrl_c_is_survived())
		return;
	SetConsoleCtrlHandler(ignore_control, TRUE);
	run r = start("-s 200");
	ASSERT_TRUE(shows_prompt(r));
	type(std::vector<key>(30, x));
	bool sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
	type_paste_in_pieces(std::vector<key>(30, x), 300);
	type({shifted_q});
	if (!sent || !ended(r, 5000)) {
		TerminateProcess(r.process.hProcess, 255);
		finish(r);
		GTEST_SKIP() << "this console does not deliver Ctrl-C";
	}
	EXPECT_EQ(events_waiting(), 2u) << "the key typed after the paste is its press and release";
	EXPECT_EQ(finish(r), DWORD(STATUS_CONTROL_C_EXIT));
	SetConsoleCtrlHandler(ignore_control, FALSE);
}

// Ctrl-C while msgpoll's first batch (4,890 bytes) waits to go into a pipe
// of 4,096 that nobody reads: msgpoll waits for the write, which ends only
// when this test reads the pipe, and then ends as Ctrl-C would.
TEST(Windows, CtrlCWaitsForTheBatchBeingWritten)
{
	if (!ctrl_c_is_survived())
		return;
	HANDLE ends[2];
	ASSERT_TRUE(make_pipe(ends, 4096));
	SetConsoleCtrlHandler(ignore_control, TRUE);
	options o;
	o.source = numbered_lines();
	o.output = ends[1];
	run r = start("-s 0", o);
	DWORD held = 0;
	for (DWORD t = GetTickCount(); held < 4096 && GetTickCount() - t < 10000; Sleep(5))
		PeekNamedPipe(ends[0], nullptr, 0, nullptr, &held, nullptr);
	ASSERT_GE(held, 4096u);
	bool sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
	EXPECT_FALSE(ended(r, 300)) << "msgpoll did not wait for its write";
	std::string out;
	std::thread reader([&] { out = read_pipe(ends[0]); });
	bool delivered = sent && ended(r, 10000);
	if (!delivered)
		TerminateProcess(r.process.hProcess, 255);
	reader.join();
	CloseHandle(ends[0]);
	if (!delivered) {
		finish(r);
		GTEST_SKIP() << "this console does not deliver Ctrl-C";
	}
	EXPECT_EQ(finish(r), DWORD(STATUS_CONTROL_C_EXIT));
	expect_numbered_lines(out);
	SetConsoleCtrlHandler(ignore_control, FALSE);
}

} // namespace
} // namespace win_e2e
